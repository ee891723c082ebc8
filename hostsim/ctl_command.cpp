#include "hostsim/ctl_command.h"

#include <charconv>
#include <random>

#include "core/text.h"

namespace torvan::hostsim {

namespace {

CtlResult Bad(const std::string& message) { return {2, message + "\n"}; }
CtlResult Done(const std::string& text) { return {0, text}; }

bool ParseNumber(const std::string& text, int64_t min, int64_t max, int64_t* n) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *n);
  return ec == std::errc() && end == text.data() + text.size() && *n >= min && *n <= max;
}

// A random value that fits `field`, as text.
std::string RandomValue(const HostField& field, std::mt19937_64& rng) {
  static const char* const kWords[] = {"Rossi",   "Bianchi", "Caffè",     "Nicolò", "L'Aquila",
                                       "Società", "Perù",    "Sant'Anna", "Forlì",  "Verdi"};
  if (field.type == 'A') {
    std::string text;
    while (text.size() < size_t(field.digits)) {
      if (!text.empty()) text += ' ';
      text += Utf8ToCp1252(kWords[rng() % std::size(kWords)]);
    }
    text.resize(std::min<size_t>(text.size(), rng() % size_t(field.digits) + 1));
    return text;
  }
  std::string number;
  for (int32_t i = 0; i < field.digits; ++i) number += char('0' + rng() % 10);
  if (field.decimals > 0) number.insert(number.size() - size_t(field.decimals), 1, '.');
  if (rng() % 4 == 0) number.insert(0, 1, '-');
  return number;
}

CtlResult Generate(CtlContext& ctx, HostFile* file, int64_t count, uint64_t seed) {
  const RecordCodec& codec = ctx.store->codec();
  std::mt19937_64 rng(seed);
  std::vector<int32_t> rrns;
  for (const auto& [rrn, record] : file->records) rrns.push_back(rrn);
  int64_t inserts = 0, updates = 0, deletes = 0;
  for (int64_t i = 0; i < count; ++i) {
    const unsigned dice = unsigned(rng() % 10);
    // Mostly inserts while the file is small, then a mix that keeps its size steady.
    const bool insert = rrns.size() < 10 || dice < 4;
    const bool remove = !insert && dice < 6;
    const size_t pick = insert ? 0 : size_t(rng() % rrns.size());
    std::string record = insert ? codec.EmptyRecord(*file) : file->records.at(rrns[pick]);
    for (int k = 0; !remove && k < int(file->fields.size()); ++k) {
      if (k == file->index_field) continue;  // the PC gives the index; the host keeps it
      // A random value is made to fit its field.
      (void)codec.PutField(file->fields[size_t(k)], RandomValue(file->fields[size_t(k)], rng),
                           &record);
    }
    Status s;
    if (insert) {
      int32_t rrn = 0;
      s = ctx.store->Insert(file, std::move(record), true, &rrn);
      rrns.push_back(rrn);
      ++inserts;
    } else if (remove) {
      s = ctx.store->Delete(file, rrns[pick], true);
      rrns[pick] = rrns.back();
      rrns.pop_back();
      ++deletes;
    } else {
      s = ctx.store->Update(file, rrns[pick], std::move(record), true);
      ++updates;
    }
    if (!s.ok()) return {1, s.message() + "\n"};
  }
  return Done("generated " + std::to_string(count) + " changes of " + Cp1252ToUtf8(file->Name()) +
              ": " + std::to_string(inserts) + " inserts, " + std::to_string(updates) +
              " updates, " + std::to_string(deletes) + " deletes\n");
}

CtlResult Dump(CtlContext& ctx, const HostFile& file) {
  const RecordCodec& codec = ctx.store->codec();
  std::string text;
  for (const auto& [rrn, record] : file.records) {
    text += std::to_string(rrn);
    for (const HostField& f : file.fields) {
      std::string value;
      Status s = codec.GetField(f, record, &value);
      text += '\t';
      text += f.name;
      text += '=';
      if (s.ok()) {
        text += TrimRight(value);
      } else {
        text += '?';
        text += ToHex(std::string_view(record).substr(size_t(f.position - 1), size_t(f.bytes)));
      }
    }
    text += "\n";
  }
  return Done(Cp1252ToUtf8(text));
}

}  // namespace

CtlResult RunCtl(CtlContext& ctx, const std::vector<std::string>& utf8_args) {
  if (utf8_args.empty()) return Bad("no command given (torvan-host --help lists them)");
  std::vector<std::string> args;
  for (const std::string& a : utf8_args) {
    std::string cp = Utf8ToCp1252(a);
    if (Cp1252ToUtf8(cp) != a) return Bad("\"" + a + "\" has characters outside Windows-1252");
    args.push_back(std::move(cp));
  }
  const std::string& command = args[0];
  const size_t n = args.size();
  HostStore& store = *ctx.store;

  auto file_arg = [&](HostFile** file) -> CtlResult {
    if (n < 2) return Bad(command + " needs LIB/FILE");
    *file = store.data().FindFile(args[1]);
    if (*file == nullptr) return Bad("no file " + Cp1252ToUtf8(args[1]) + " on this host");
    return {};
  };
  auto rrn_arg = [&](const HostFile& file, int32_t* rrn) -> CtlResult {
    int64_t v = 0;
    if (n < 3 || !ParseNumber(args[2], 1, INT32_MAX, &v)) return Bad(command + " needs an RRN");
    if (file.records.count(int32_t(v)) == 0) {
      return Bad(Cp1252ToUtf8(file.Name()) + " has no record at RRN " + args[2]);
    }
    *rrn = int32_t(v);
    return {};
  };
  // Makes the change durable before saying it is done.
  auto committed = [&](const std::string& text) -> CtlResult {
    Status s = store.Flush(true);
    if (!s.ok()) return {1, "the change is not safely stored: " + s.message() + "\n"};
    return Done(text);
  };

  HostFile* file = nullptr;
  int32_t rrn = 0;
  CtlResult r;
  if (command == "insert" || command == "update") {
    if ((r = file_arg(&file)).exit_code != 0) return r;
    const bool insert = command == "insert";
    if (!insert && (r = rrn_arg(*file, &rrn)).exit_code != 0) return r;
    std::string record = insert ? store.codec().EmptyRecord(*file) : file->records.at(rrn);
    std::vector<std::string> assignments(args.begin() + (insert ? 2 : 3), args.end());
    if (!insert && assignments.empty()) return Bad("update needs FIELD=VALUE");
    Status s = AssignFields(store.codec(), *file, assignments, &record);
    if (!s.ok()) return Bad(s.message());
    s = insert ? store.Insert(file, std::move(record), true, &rrn)
               : store.Update(file, rrn, std::move(record), true);
    if (!s.ok()) return {1, s.message() + "\n"};
    return committed((insert ? "inserted " : "updated ") + Cp1252ToUtf8(file->Name()) + " RRN " +
                     std::to_string(rrn) + "\n");
  }
  if (command == "delete") {
    if ((r = file_arg(&file)).exit_code != 0 || (r = rrn_arg(*file, &rrn)).exit_code != 0) return r;
    if (n != 3) return Bad("delete takes LIB/FILE RRN");
    Status s = store.Delete(file, rrn, true);
    if (!s.ok()) return {1, s.message() + "\n"};
    return committed("deleted " + Cp1252ToUtf8(file->Name()) + " RRN " + std::to_string(rrn) +
                     "\n");
  }
  if (command == "clear") {
    if ((r = file_arg(&file)).exit_code != 0) return r;
    if (n != 2) return Bad("clear takes LIB/FILE");
    Status s = store.Clear(file, true);
    if (!s.ok()) return {1, s.message() + "\n"};
    return committed("cleared " + Cp1252ToUtf8(file->Name()) + "\n");
  }
  if (command == "generate") {
    if ((r = file_arg(&file)).exit_code != 0) return r;
    int64_t count = 0, seed = 1;
    if (n < 3 || n > 4 || !ParseNumber(args[2], 1, 10000000, &count) ||
        (n == 4 && !ParseNumber(args[3], 0, INT64_MAX, &seed))) {
      return Bad("generate takes LIB/FILE N [SEED], N from 1 to 10000000");
    }
    r = Generate(ctx, file, count, uint64_t(seed));
    if (r.exit_code != 0) return r;
    return committed(r.text);
  }
  if (command == "dump") {
    if ((r = file_arg(&file)).exit_code != 0) return r;
    if (n != 2) return Bad("dump takes LIB/FILE");
    return Dump(ctx, *file);
  }
  if (command == "queue") {
    if (n != 1) return Bad("queue takes no argument");
    return Done(std::to_string(store.QueueSize()) + "\n");
  }
  if (command == "schedule") {
    Schedule s = store.schedule();
    if (n == 1) {
      return Done("stop " + (s.stop.empty() ? std::string("tomorrow, same time") : s.stop) +
                  "\nrestart " +
                  (s.restart.empty() ? std::string("one hour after the stop") : s.restart) +
                  "\nstopping " + (s.stopping ? "on" : "off") + "\n");
    }
    if (n == 2 && args[1] == "off") {
      s.stop.clear();
      s.restart.clear();
    } else if (n == 3 && IsTime14(args[1]) && IsTime14(args[2])) {
      s.stop = args[1];
      s.restart = args[2];
    } else {
      return Bad("schedule takes STOP RESTART (yyyymmddhhnnss each) or off");
    }
    Status st = store.SetSchedule(s);
    if (!st.ok()) return {1, st.message() + "\n"};
    return Done("schedule set\n");
  }
  if (command == "stopping") {
    if (n != 2 || (args[1] != "on" && args[1] != "off")) return Bad("stopping takes on or off");
    Schedule s = store.schedule();
    s.stopping = args[1] == "on";
    Status st = store.SetSchedule(s);
    if (!st.ok()) return {1, st.message() + "\n"};
    return Done("stopping " + args[1] + "\n");
  }
  if (command == "fault") {
    Status s = ctx.faults->Command(std::vector<std::string>(args.begin() + 1, args.end()));
    if (!s.ok()) return Bad(s.message());
    return Done("fault set\n");
  }
  if (command == "faults") {
    if (n != 1) return Bad("faults takes no argument");
    return Done(ctx.faults->Report());
  }
  if (command == "status") {
    if (n != 1) return Bad("status takes no argument");
    return Done(ctx.status() + "queue " + std::to_string(store.QueueSize()) + "\n");
  }
  if (command == "shutdown") {
    if (n != 1) return Bad("shutdown takes no argument");
    ctx.shutdown();
    return Done("shutting down\n");
  }
  return Bad("unknown command \"" + Cp1252ToUtf8(command) + "\" (torvan-host --help lists them)");
}

}  // namespace torvan::hostsim
