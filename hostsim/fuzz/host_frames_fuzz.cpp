#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hostlink/frame.h"
#include "hostsim/faults.h"
#include "hostsim/fuzz/fuzz_targets.h"
#include "hostsim/host_session.h"
#include "hostsim/host_store.h"
#include "hostsim/server.h"
#include "platform/fakes.h"
#include "platform/fuzz_check.h"
#include "platform/temp_folder.h"

namespace torvan::hostsim::fuzz {

namespace {

using platform::fuzz::Check;

const hostlink::CharTables& Tables() {
  static const hostlink::CharTables tables = [] {
    hostlink::CharTables t;
    Check(hostlink::LoadCharTables(DefaultTablePath(), &t).ok());
    return t;
  }();
  return tables;
}

// The sample host in a folder of its own, with a change of every kind queued for the PC.
// The R statements change its records, so it starts afresh now and then.
class Host {
 public:
  HostContext* Next() {
    if (store_ == nullptr || ++inputs_ % 500 == 0) Open();
    if (store_->MustFlush()) Check(store_->Flush(false).ok());
    return &context_;
  }

 private:
  void Open() {
    store_.reset();
    folder_ = std::make_unique<platform::TempFolder>("torvan-fuzz-host");
    std::filesystem::copy(TORVAN_SAMPLE_HOST, folder_->path(),
                          std::filesystem::copy_options::recursive);
    std::string notes;
    Check(HostStore::Open(DataFolder{folder_->path()}, codec_, &clock_, &store_, &notes).ok());
    for (auto& file : store_->data().files) {
      if (file->records.empty()) continue;
      const auto [rrn, record] = *file->records.begin();
      Check(store_->Update(file.get(), rrn, record, true).ok());
      int32_t added = 0;
      Check(store_->Insert(file.get(), record, true, &added).ok());
      Check(store_->Delete(file.get(), added, true).ok());
    }
    Check(store_->Flush(false).ok());
    context_ = {store_.get(), &Tables(), &clock_, &faults_, false};
  }

  std::unique_ptr<platform::TempFolder> folder_;
  platform::FakeClock clock_{{2026, 12, 5, 14, 5, 9, 42}};
  RecordCodec codec_{Tables()};
  std::unique_ptr<HostStore> store_;
  Faults faults_;
  HostContext context_;
  int inputs_ = 0;
};

// The requests a stream holds: whole frames up to the first length that is not five
// digits (which is answered too, and ends the connection).
struct Expected {
  size_t replies = 0;
  bool closes = false;
};

Expected Count(std::string_view stream) {
  Expected e;
  while (stream.size() >= hostlink::kFrameHeaderLength) {
    int32_t length = 0;
    if (!hostlink::ParseLengthDigits(Tables().ToPc(stream.substr(1, 5)), hostlink::kMaxRequestData,
                                     &length)
             .ok()) {
      ++e.replies;
      e.closes = true;
      break;
    }
    if (stream.size() < hostlink::kFrameHeaderLength + size_t(length)) break;
    ++e.replies;
    stream.remove_prefix(hostlink::kFrameHeaderLength + size_t(length));
  }
  return e;
}

void CheckReply(const std::string& reply) {
  Check(reply.size() >= hostlink::kFrameHeaderLength);
  const char outcome = char(Tables().HostToPc(uint8_t(reply[0])));
  Check(outcome == '0' || outcome == '1');
  int32_t length = 0;
  Check(hostlink::ParseZonedLength(std::string_view(reply).substr(1, 5), &length).ok());
  Check(reply.size() == hostlink::kFrameHeaderLength + size_t(length));
  if (outcome == '1') Check(length == 0);
}

}  // namespace

int FuzzHostFrames(const uint8_t* data, size_t size) {
  static Host host;
  if (size < 2) return 0;
  HostSession session(host.Next());
  // A budget of a few replies now and then, as for a client that reads slowly.
  const size_t budget = data[0] < 200 ? SIZE_MAX : size_t(data[0] - 199) * 64;
  const size_t segment = 1 + size_t(data[1]) * 16;
  const std::string_view stream(reinterpret_cast<const char*>(data + 2), size - 2);

  std::vector<std::string> replies;
  bool open = true;
  for (size_t at = 0; open && at < stream.size(); at += segment) {
    open = session.Receive(stream.substr(at, segment), &replies, budget);
  }
  // The requests a budget left wait for the client to read: they are answered later.
  for (size_t before = SIZE_MAX; open && session.pending() > 0 && before != replies.size();) {
    before = replies.size();
    open = session.Receive("", &replies, budget);
  }
  for (const std::string& reply : replies) CheckReply(reply);
  const Expected expected = Count(stream);
  Check(open == !expected.closes);
  Check(replies.size() == expected.replies);
  return 0;
}

}  // namespace torvan::hostsim::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::hostsim::fuzz::FuzzHostFrames(data, size);
}
#endif
