#include "hostsim/host_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/text.h"
#include "hostlink/field.h"
#include "hostlink/frame.h"
#include "hostsim/statement_runner.h"

namespace torvan::hostsim {

namespace {

constexpr char kOutcomeRefused = '1';
constexpr int32_t kChangeHeaderLength = 58;
constexpr int32_t kImageRequestLength = 21;

std::string Time17(const platform::LocalDateTime& t) {
  char ms[12];
  std::snprintf(ms, sizeof ms, "%03d", t.millisecond % 1000);
  return platform::FormatYmdHns(t) + ms;
}

bool ParseTime14(const std::string& s, platform::LocalDateTime* t) {
  if (s.size() != 14) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  auto n = [&](size_t pos, size_t len) { return std::stoi(s.substr(pos, len)); };
  *t = {n(0, 4), n(4, 2), n(6, 2), n(8, 2), n(10, 2), n(12, 2), 0};
  return true;
}

std::string Plus(const platform::LocalDateTime& t, std::chrono::milliseconds d) {
  return platform::FormatYmdHns(platform::ToFields(platform::ToLocalTime(t) + d));
}

void Log(const std::string& line) { std::fprintf(stderr, "torvan-host: %s\n", line.c_str()); }

}  // namespace

std::string HostSession::Greeting(const hostlink::CharTables& tables) {
  std::string header;
  (void)hostlink::BuildReplyHeader(tables, hostlink::kOutcomeServed, 0, &header);  // cannot fail
  return header;
}

bool HostSession::Receive(std::string_view bytes, std::vector<std::string>* replies,
                          size_t budget) {
  input_.append(bytes);
  const hostlink::CharTables& tables = *context_->tables;
  bool keep = true;
  size_t answered = 0;
  while (keep && answered < budget && input_.size() - consumed_ >= hostlink::kFrameHeaderLength) {
    std::string_view frame(input_.data() + consumed_, input_.size() - consumed_);
    const char code = char(tables.HostToPc(uint8_t(frame[0])));
    int32_t length = 0;
    Status s = hostlink::ParseLengthDigits(tables.ToPc(frame.substr(1, 5)),
                                           hostlink::kMaxRequestData, &length);
    if (!s.ok()) {
      // Without a length the frame's end is unknown: nothing after it can be trusted.
      Log("closing a connection: request " + s.message());
      replies->push_back(Refused());
      keep = false;
      consumed_ = input_.size();
      break;
    }
    if (frame.size() < hostlink::kFrameHeaderLength + size_t(length)) break;
    std::string_view data = frame.substr(hostlink::kFrameHeaderLength, size_t(length));
    consumed_ += hostlink::kFrameHeaderLength + size_t(length);
    if (context_->verbose) {
      Log(std::string("request ") + code + " " +
          Cp1252ToUtf8(code == 'I' || code == 'S' ? "" : tables.ToPc(data.substr(0, 120))));
    }
    replies->push_back(Reply(code, data));
    answered += replies->back().size();
  }
  if (consumed_ == input_.size()) {
    input_.clear();
    consumed_ = 0;
  } else if (consumed_ > 65536) {
    input_.erase(0, consumed_);
    consumed_ = 0;
  }
  return keep;
}

std::string HostSession::Reply(char code, std::string_view data) {
  // A new S request means the previous change arrived, whether this one is served or not.
  if (code == hostlink::kRequestChange && delivered_seq_ != 0) {
    context_->store->Acknowledge(delivered_seq_);
    delivered_seq_ = 0;
  }
  if (!hostlink::IsRequestCode(code) || context_->faults->TakeRefusal(code)) return Refused();
  switch (code) {
    case hostlink::kRequestTime:
      return TimeReply(false);
    case hostlink::kRequestRestartWait:
      return TimeReply(true);
    case hostlink::kRequestChange:
      return ChangeReply();
    case hostlink::kRequestImage:
      return ImageReply(data);
    case hostlink::kRequestStatement:
      return StatementReply(data);
    default:
      return ListReply(code, data);
  }
}

std::string HostSession::Served(std::string_view host_data) {
  std::string frame;
  // Every reply is built within kMaxReplyData; one that is not is a fault of the host
  // program, refused rather than sent with a length that lies.
  if (!hostlink::BuildReplyHeader(*context_->tables, hostlink::kOutcomeServed,
                                  int32_t(host_data.size()), &frame)
           .ok()) {
    return Refused();
  }
  frame.append(host_data);
  return frame;
}

std::string HostSession::Refused() {
  std::string frame;
  (void)hostlink::BuildReplyHeader(*context_->tables, kOutcomeRefused, 0, &frame);  // cannot fail
  return frame;
}

std::string HostSession::TimeReply(bool restart_wait) {
  const platform::LocalDateTime now = context_->clock->Now();
  const Schedule& schedule = context_->store->schedule();
  std::string stop = schedule.stop, restart = schedule.restart;
  platform::LocalDateTime stop_time = now;
  if (stop.empty()) stop = Plus(now, std::chrono::hours(24));
  if (restart.empty() && ParseTime14(stop, &stop_time)) {
    restart = Plus(stop_time, std::chrono::hours(1));
  }
  std::string text;
  if (restart_wait) {
    text = std::string(schedule.stopping ? "S" : "N") + std::string(13, ' ') + restart;
  } else {
    text = stop + restart;
  }
  text += Time17(now);
  return Served(context_->tables->ToHost(text));
}

std::string HostSession::ChangeReply() {
  const Change* c = context_->store->FrontChange();
  if (c == nullptr) return Refused();
  const hostlink::CharTables& tables = *context_->tables;
  auto binary = [&](int64_t v) {
    std::string b;
    (void)hostlink::Field_Encode(tables, 'B', std::to_string(v), 4, 9, 0, &b);  // 32-bit values
    return b;
  };
  const size_t length = kChangeHeaderLength + c->before.size() + c->after.size();
  // The frame is built in place: S is the request the host answers most often.
  std::string frame;
  // kMaxRecordLength keeps both images within one reply.
  (void)hostlink::BuildReplyHeader(tables, hostlink::kOutcomeServed, int32_t(length), &frame);
  frame.reserve(hostlink::kFrameHeaderLength + length);
  frame += binary(0);
  frame += binary(int64_t(c->before.size()));
  std::string text = ZeroPad(c->seq % 100000000, 8);
  frame += tables.ToHost(text);
  frame += binary(c->rrn);
  text = PadRight(c->file, 10);
  text += PadRight(c->library, 10);
  text += PadRight(c->text14, 14);
  text += c->code;
  text += "   ";
  frame += tables.ToHost(text);
  frame += c->before;
  frame += c->after;
  delivered_seq_ = c->seq;
  return frame;
}

std::string HostSession::ImageReply(std::string_view host_data) {
  if (host_data.size() != size_t(kImageRequestLength)) return Refused();
  const std::string pc = context_->tables->ToPc(host_data);
  int32_t part = 0, chunk = 0;
  if (pc[10] != '1' || !hostlink::ParseLengthDigits(pc.substr(11, 5), 99999, &part).ok() ||
      !hostlink::ParseLengthDigits(pc.substr(16, 5), 99999, &chunk).ok() || chunk < 1) {
    return Refused();
  }
  const std::string path = context_->store->folder().Image(pc.substr(0, 10), part);
  if (path.empty()) return Refused();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Refused();
  std::string bytes(size_t(hostlink::kMaxReplyData), '\0');
  const off_t offset = off_t(chunk - 1) * hostlink::kMaxReplyData;
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got, offset + off_t(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  ::close(fd);
  // A served reply always carries data: past the end there is no chunk.
  if (got == 0) return Refused();
  bytes.resize(got);
  return Served(bytes);
}

std::string HostSession::ListReply(char code, std::string_view host_data) {
  const hostlink::CharTables& tables = *context_->tables;
  const RecordCodec& codec = context_->store->codec();
  const HostData& data = context_->store->data();
  if (host_data.empty()) return Refused();
  const std::string request = tables.ToPc(host_data);
  const bool first = request[0] == 'S';
  if (!first && request[0] != 'N') return Refused();

  if (code == hostlink::kRequestDatabases) {
    if (first) database_cursor_ = 0;
    if (database_cursor_ >= data.databases.size()) return Refused();
    const HostDatabase& db = data.databases[database_cursor_++];
    std::string entry(1, ' ');
    for (auto [text, width] : {std::pair{&db.name, 20},
                               {&db.description, 50},
                               {&db.server, 20},
                               {&db.address, 16},
                               {&db.user, 20},
                               {&db.password, 20},
                               {&db.folder, 50}}) {
      entry += PadRight(*text, size_t(width));
    }
    return Served(tables.ToHost(entry));
  }
  if (code == hostlink::kRequestFiles) {
    if (first) file_cursor_ = 0;
    if (file_cursor_ >= data.files.size()) return Refused();
    const HostFile& f = *data.files[file_cursor_++];
    std::string entry(1, ' ');
    for (auto [text, width] : {std::pair{&f.library, 10},
                               {&f.file, 10},
                               {&f.text, 50},
                               {&f.trigger_library, 10},
                               {&f.trigger, 10}}) {
      entry += PadRight(*text, size_t(width));
    }
    entry += f.as_pc;
    entry += f.pc_as;
    entry += f.acq;
    for (auto [text, width] :
         {std::pair{&f.database, 20}, {&f.filter_library, 10}, {&f.filter, 10}}) {
      entry += PadRight(*text, size_t(width));
    }
    return Served(tables.ToHost(entry));
  }
  // Field list: "S"/"N", library (10), file (10).
  if (request.size() != 21) return Refused();
  const HostFile* file = data.FindFile(Trim(request.substr(1, 10)), Trim(request.substr(11, 10)));
  if (file == nullptr) return Refused();
  if (first || file != field_file_) field_cursor_ = 0;
  field_file_ = file;
  if (field_cursor_ >= file->fields.size()) return Refused();
  const HostField& f = file->fields[field_cursor_++];
  std::string pc(1, ' ');
  pc += PadRight(file->library, 10);
  pc += PadRight(file->file, 10);
  pc += PadRight(f.name, 10);
  pc += PadRight(f.text, 50);
  pc += f.type;
  std::string entry = tables.ToHost(pc);
  for (int32_t n : {f.digits, f.decimals, f.position, f.bytes}) {
    std::string packed;
    (void)codec.PackedNumber(n, &packed);  // the data folder checked them at load
    entry += packed;
  }
  entry += tables.ToHost(f.excluded ? "S" : " ");
  return Served(entry);
}

std::string HostSession::StatementReply(std::string_view host_data) {
  const std::string text = context_->tables->ToPc(host_data);
  StatementResult r;
  if (context_->faults->TakeStatementRefusal()) {
    r = {kStatementRefused, "refused by an injected fault"};
  } else {
    r = RunStatement(context_->store, text);
  }
  if (r.status != kStatementDone) {
    Log("statement refused (" + std::string(1, r.status) + "): " + r.message + ": " +
        Cp1252ToUtf8(text));
  }
  return Served(context_->tables->ToHost(std::string(1, r.status)));
}

}  // namespace torvan::hostsim
