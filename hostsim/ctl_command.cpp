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

// "generate": random inserts, updates and deletes of one file, each queued for the PC,
// a slice at a time. Between slices the file may change under it (other commands, the
// PC's statements): a record it meant to touch that is gone is simply not picked.
class GenerateJob final : public CtlJob {
 public:
  GenerateJob(HostStore* store, HostFile* file, int64_t count, uint64_t seed)
      : store_(store), file_(file), count_(count), rng_(seed) {
    for (const auto& [rrn, record] : file->records) rrns_.push_back(rrn);
  }

  bool Step(int steps, CtlResult* result) override {
    for (int i = 0; i < steps && done_ < count_; ++i) {
      Status s = One();
      if (!s.ok()) {
        *result = {1, s.message() + "\n"};
        return true;
      }
    }
    if (done_ < count_) return false;
    Status s = store_->Flush(true);
    if (!s.ok()) {
      *result = {1, "the changes are not safely stored: " + s.message() + "\n"};
    } else {
      *result = {0, "generated " + Counts()};
    }
    return true;
  }

  CtlResult Interrupted() const override {
    return {1, "generate interrupted, the server is stopping: " + Counts()};
  }

 private:
  std::string Counts() const {
    return std::to_string(done_) + " changes of " + Cp1252ToUtf8(file_->Name()) + ": " +
           std::to_string(inserts_) + " inserts, " + std::to_string(updates_) + " updates, " +
           std::to_string(deletes_) + " deletes\n";
  }

  Status One() {
    const RecordCodec& codec = store_->codec();
    const unsigned dice = unsigned(rng_() % 10);
    // Mostly inserts while the file is small, then a mix that keeps its size steady.
    bool insert = rrns_.size() < 10 || dice < 4;
    size_t pick = 0;
    const std::string* current = nullptr;
    while (!insert && current == nullptr) {
      pick = size_t(rng_() % rrns_.size());
      auto it = file_->records.find(rrns_[pick]);
      if (it != file_->records.end()) {
        current = &it->second;
      } else {
        rrns_[pick] = rrns_.back();
        rrns_.pop_back();
        insert = rrns_.empty();
      }
    }
    const bool remove = !insert && dice < 6;
    std::string record = insert ? codec.EmptyRecord(*file_) : *current;
    for (int k = 0; !remove && k < int(file_->fields.size()); ++k) {
      if (k == file_->index_field) continue;  // the PC gives the index; the host keeps it
      // A random value is made to fit its field.
      (void)codec.PutField(file_->fields[size_t(k)], RandomValue(file_->fields[size_t(k)], rng_),
                           &record);
    }
    Status s;
    if (insert) {
      int32_t rrn = 0;
      s = store_->Insert(file_, std::move(record), true, &rrn);
      if (s.ok()) rrns_.push_back(rrn);
      ++inserts_;
    } else if (remove) {
      s = store_->Delete(file_, rrns_[pick], true);
      rrns_[pick] = rrns_.back();
      rrns_.pop_back();
      ++deletes_;
    } else {
      s = store_->Update(file_, rrns_[pick], std::move(record), true);
      ++updates_;
    }
    if (s.ok()) ++done_;
    return s;
  }

  HostStore* store_;
  HostFile* file_;
  const int64_t count_;
  std::mt19937_64 rng_;
  std::vector<int32_t> rrns_;
  int64_t done_ = 0, inserts_ = 0, updates_ = 0, deletes_ = 0;
};

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
  if (command == "refresh") {
    if ((r = file_arg(&file)).exit_code != 0) return r;
    if (n != 2) return Bad("refresh takes LIB/FILE");
    Status s = store.Refresh(file);
    if (!s.ok()) return {1, s.message() + "\n"};
    return committed("queued " + Cp1252ToUtf8(file->Name()) + ": a clear and " +
                     std::to_string(file->records.size()) + " records\n");
  }
  if (command == "generate") {
    if ((r = file_arg(&file)).exit_code != 0) return r;
    int64_t count = 0, seed = 1;
    if (n < 3 || n > 4 || !ParseNumber(args[2], 1, kMaxGenerate, &count) ||
        (n == 4 && !ParseNumber(args[3], 0, INT64_MAX, &seed))) {
      return Bad("generate takes LIB/FILE N [SEED], N from 1 to " + std::to_string(kMaxGenerate));
    }
    r.job = std::make_unique<GenerateJob>(&store, file, count, uint64_t(seed));
    return r;
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
