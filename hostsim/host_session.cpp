#include "hostsim/host_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/text.h"
#include "hostlink/field.h"
#include "hostlink/frame.h"
#include "hostsim/log.h"
#include "hostsim/statement_runner.h"

namespace torvan::hostsim {

namespace {

using hostlink::FieldPos;

constexpr char kOutcomeRefused = '1';

// Field `f` of a text laid out by position.
std::string_view At(std::string_view text, FieldPos f) {
  return text.substr(size_t(f.pos - 1), size_t(f.len));
}

// Puts `value`, blank-padded or cut to the field's width, at field `f` of `*text`.
void Put(std::string* text, FieldPos f, std::string_view value) {
  text->replace(size_t(f.pos - 1), size_t(f.len), PadRight(value, size_t(f.len)));
}

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

}  // namespace

std::string HostSession::Greeting(const hostlink::CharTables& tables, Variation* vary) {
  std::string header;
  (void)hostlink::BuildReplyHeader(tables, hostlink::kOutcomeServed, 0, &header);  // cannot fail
  if (vary != nullptr && vary->on()) header.replace(1, 5, vary->Bytes(5));
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
  const char outcome = context_->vary ? context_->vary->RefusalOutcome() : kOutcomeRefused;
  (void)hostlink::BuildReplyHeader(*context_->tables, outcome, 0, &frame);  // cannot fail
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
  namespace layout = hostlink::time_reply;
  std::string text(size_t(layout::kLength), ' ');
  Put(&text, layout::kRestartTime, restart);
  if (restart_wait) {
    // Only the flag and the clock of a T reply are read.
    if (context_->vary && context_->vary->on()) text.replace(1, 27, context_->vary->Text(27));
    Put(&text, layout::kStoppingFlag, schedule.stopping ? "S" : "N");
  } else {
    Put(&text, layout::kStopTime, stop);
  }
  Put(&text, layout::kHostClock, Time17(now));
  return Served(context_->tables->ToHost(text));
}

std::string HostSession::ChangeReply() {
  namespace layout = hostlink::change_record;
  const Change* c = context_->store->FrontChange();
  if (c == nullptr) return Refused();
  const hostlink::CharTables& tables = *context_->tables;
  const size_t length = size_t(layout::kHeaderLength) + c->before.size() + c->after.size();
  // The frame is built in place: S is the request the host answers most often.
  std::string frame;
  // kMaxRecordLength keeps both images within one reply.
  (void)hostlink::BuildReplyHeader(tables, hostlink::kOutcomeServed, int32_t(length), &frame);
  frame.resize(hostlink::kFrameHeaderLength + length, char(tables.PcToHost(' ')));
  char* data = frame.data() + hostlink::kFrameHeaderLength;
  auto put_bytes = [&](FieldPos f, const std::string& bytes) {
    std::memcpy(data + f.pos - 1, bytes.data(), std::min(bytes.size(), size_t(f.len)));
  };
  auto put_binary = [&](FieldPos f, int64_t v) {
    std::string b;
    (void)hostlink::Field_Encode(tables, 'B', std::to_string(v), f.len, 9, 0, &b);  // 32 bits
    put_bytes(f, b);
  };
  auto put_text = [&](FieldPos f, std::string_view text) {
    put_bytes(f, tables.ToHost(PadRight(text, size_t(f.len))));
  };
  put_binary(layout::kBeforeOffset, 0);
  put_binary(layout::kAfterOffset, int64_t(c->before.size()));
  put_text(layout::kUnread1, ZeroPad(c->seq % 100000000, layout::kUnread1.len));  // sequence
  put_binary(layout::kRrn, c->rrn);
  put_text(layout::kFile, c->file);
  put_text(layout::kLibrary, c->library);
  put_text(layout::kText14, c->text14);  // when the change was made
  put_text(layout::kCode, std::string(1, c->code));
  // kUnread2 stays blank.
  if (Variation* vary = context_->vary; vary != nullptr && vary->on()) {
    put_bytes(layout::kUnread1, vary->Bytes(size_t(layout::kUnread1.len)));
    put_bytes(layout::kText14, vary->Bytes(size_t(layout::kText14.len)));
    put_bytes(layout::kUnread2, vary->Bytes(size_t(layout::kUnread2.len)));
  }
  std::memcpy(data + layout::kImageBase, c->before.data(), c->before.size());
  std::memcpy(data + layout::kImageBase + c->before.size(), c->after.data(), c->after.size());
  delivered_seq_ = c->seq;
  return frame;
}

std::string HostSession::ImageReply(std::string_view host_data) {
  namespace layout = hostlink::image_request;
  if (host_data.size() != size_t(layout::kLength)) return Refused();
  const std::string pc = context_->tables->ToPc(host_data);
  int32_t part = 0, chunk = 0;
  static_assert(layout::kPart.len == 5 && layout::kChunk.len == 5);  // five digits each
  if (At(pc, layout::kConstant) != "1" ||
      !hostlink::ParseLengthDigits(At(pc, layout::kPart), 99999, &part).ok() ||
      !hostlink::ParseLengthDigits(At(pc, layout::kChunk), 99999, &chunk).ok() || chunk < 1) {
    return Refused();
  }
  const std::string path = context_->store->folder().Image(std::string(At(pc, layout::kKey)), part);
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
  const HostData& data = context_->store->data();
  if (host_data.empty()) return Refused();
  const std::string request = tables.ToPc(host_data);
  const bool first = request[0] == 'S';
  if (!first && request[0] != 'N') return Refused();

  if (code == hostlink::kRequestDatabases) {
    namespace layout = hostlink::database_entry;
    if (first) database_cursor_ = 0;
    if (database_cursor_ >= data.databases.size()) return Refused();
    const HostDatabase& db = data.databases[database_cursor_++];
    std::string entry(size_t(layout::kLength), ' ');  // the entry mark is a blank
    Put(&entry, layout::kName, db.name);
    Put(&entry, layout::kDescription,
        context_->vary && context_->vary->on() ? context_->vary->Text(50) : db.description);
    Put(&entry, layout::kServer, db.server);
    Put(&entry, layout::kAddress, db.address);
    Put(&entry, layout::kUser, db.user);
    Put(&entry, layout::kPassword, db.password);
    Put(&entry, layout::kFolder, db.folder);
    return Served(tables.ToHost(entry));
  }
  if (code == hostlink::kRequestFiles) {
    namespace layout = hostlink::file_entry;
    if (first) file_cursor_ = 0;
    if (file_cursor_ >= data.files.size()) return Refused();
    const HostFile& f = *data.files[file_cursor_++];
    std::string entry(size_t(layout::kLength), ' ');
    Put(&entry, layout::kLibrary, f.library);
    Put(&entry, layout::kFile, f.file);
    Put(&entry, layout::kText, f.text);
    Put(&entry, layout::kTriggerLibrary, f.trigger_library);
    Put(&entry, layout::kTrigger, f.trigger);
    Put(&entry, layout::kAsPc, std::string(1, f.as_pc));
    Put(&entry, layout::kPcAs, std::string(1, f.pc_as));
    Put(&entry, layout::kAcq, std::string(1, f.acq));
    Put(&entry, layout::kDatabase, f.database);
    Put(&entry, layout::kFilterLibrary, f.filter_library);
    Put(&entry, layout::kFilter, f.filter);
    return Served(tables.ToHost(entry));
  }
  // Field list: "S"/"N", library (10), file (10).
  namespace layout = hostlink::field_entry;
  namespace asked = hostlink::field_request;
  if (request.size() != size_t(asked::kLength)) return Refused();
  const HostFile* file =
      data.FindFile(Trim(At(request, asked::kLibrary)), Trim(At(request, asked::kFile)));
  if (file == nullptr) return Refused();
  if (first || file != field_file_) field_cursor_ = 0;
  field_file_ = file;
  if (field_cursor_ >= file->fields.size()) return Refused();
  const HostField& f = file->fields[field_cursor_++];
  std::string pc(size_t(layout::kLength), ' ');
  Put(&pc, layout::kNotStored,
      context_->vary ? context_->vary->FieldEntryOwner(file->library, file->file)
                     : PadRight(file->library, 10) + file->file);
  Put(&pc, layout::kName, f.name);
  Put(&pc, layout::kText, f.text);
  Put(&pc, layout::kType, std::string(1, f.type));
  Put(&pc, layout::kExcluded, f.excluded ? "S" : " ");
  std::string entry = tables.ToHost(pc);
  for (auto [field, n] : {std::pair{layout::kDigits, f.digits},
                          {layout::kDecimals, f.decimals},
                          {layout::kPosition, f.position},
                          {layout::kBytes, f.bytes}}) {
    std::string packed;
    // The data folder checked the numbers at load: each fits five digits.
    if (hostlink::Field_Encode(tables, 'P', std::to_string(n), field.len, layout::kPackedDigits, 0,
                               &packed)
            .ok()) {
      entry.replace(size_t(field.pos - 1), size_t(field.len), packed);
    }
  }
  return Served(entry);
}

std::string HostSession::StatementReply(std::string_view host_data) {
  const std::string text = context_->tables->ToPc(host_data);
  StatementResult r;
  char status = '\0';
  if (context_->faults->TakeStatementRefusal(&status)) {
    r = {status, "refused by an injected fault"};
  } else {
    r = RunStatement(context_->store, text);
  }
  if (r.status != kStatementDone) {
    Log("statement not executed (" +
        std::string(r.status == '\0' ? "refused" : std::string(1, r.status)) + "): " + r.message +
        ": " + Cp1252ToUtf8(text));
  }
  // A statement the host could not carry out now (an injected refusal, its files could not
  // be written) is a refused request: outcome "1", as a host shows a passing fault. A
  // status letter is for a statement refused as it stands.
  if (r.status == '\0' || r.status == kStatementFailed) return Refused();
  std::string data = context_->tables->ToHost(std::string(1, r.status));
  // Only position 1 is the status.
  if (context_->vary && context_->vary->on())
    data += context_->vary->Bytes(context_->vary->Below(20));
  return Served(data);
}

}  // namespace torvan::hostsim
