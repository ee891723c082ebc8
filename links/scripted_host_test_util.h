// Test helper: a scripted host on 127.0.0.1 answering through a handler; entry builders.
#pragma once

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "core/text.h"
#include "hostlink/char_table.h"
#include "hostlink/field.h"
#include "hostlink/frame.h"
#include "hostlink/test_peer.h"

namespace torvan::testing {

struct HostReply {
  enum Kind { kServed, kRefused, kClose, kRaw, kSilent } kind = kRefused;
  std::string data;  // host bytes: the data part when served, the whole reply when raw
  static HostReply Served(std::string host_bytes) { return {kServed, std::move(host_bytes)}; }
  static HostReply Refused() { return {kRefused, ""}; }
  static HostReply Close() { return {kClose, ""}; }
  // These bytes, header included (a damaged reply), then the next request.
  static HostReply Raw(std::string host_bytes) { return {kRaw, std::move(host_bytes)}; }
  // No answer, the connection kept open until the PC closes it.
  static HostReply Silent() { return {kSilent, ""}; }
};

inline const hostlink::CharTables& Tables() {
  static const hostlink::CharTables tables = [] {
    hostlink::CharTables t;
    (void)hostlink::LoadCharTables(TORVAN_CHAR_TABLE, &t);
    return t;
  }();
  return tables;
}

inline std::string HostText(std::string_view pc) { return Tables().ToHost(pc); }

inline std::string Packed(int value, int bytes = 3) {
  std::string out;
  (void)hostlink::Field_Encode(Tables(), 'P', std::to_string(value), bytes, 2 * bytes - 1, 0, &out);
  return out;
}

inline std::string DatabaseEntry(const std::string& name, const std::string& server,
                                 const std::string& password, const std::string& folder = "",
                                 char mark = ' ') {
  return HostText(std::string(1, mark) + PadRight(name, 20) + PadRight("descrizione", 50) +
                  PadRight(server, 20) + PadRight("127.0.0.1", 16) + PadRight("torvan", 20) +
                  PadRight(password, 20) + PadRight(folder, 50));
}

inline std::string FileEntry(const std::string& lib, const std::string& file,
                             const std::string& pc_as, const std::string& database,
                             char mark = ' ') {
  return HostText(std::string(1, mark) + PadRight(lib, 10) + PadRight(file, 10) +
                  PadRight("testo di " + file, 50) + PadRight(lib, 10) + PadRight("TRG", 10) + "S" +
                  pc_as + "N" + PadRight(database, 20) + PadRight("", 10) + PadRight("", 10));
}

inline std::string FieldEntry(const std::string& name, char type, int length, int decimals,
                              int position, int bytes, char escluso = ' ', char mark = ' ') {
  return HostText(std::string(1, mark) + PadRight("", 20) + PadRight(name, 10) +
                  PadRight("campo " + name, 50) + std::string(1, type)) +
         Packed(length) + Packed(decimals) + Packed(position) + Packed(bytes) +
         HostText(std::string(1, escluso));
}

// P/T reply data: stop, restart, host clock (45 characters).
inline std::string TimeReply(const std::string& stop, const std::string& restart,
                             const std::string& clock17) {
  return HostText(stop + restart + clock17);
}

class ScriptedHost {
 public:
  // Answers one request (code, PC data). Runs on the peer's thread.
  using Handler = std::function<HostReply(char code, const std::string& data)>;

  explicit ScriptedHost(Handler handler)
      : peer_([this, handler = std::move(handler)](hostlink::testing::PeerConnection& c) {
          Serve(c, handler);
        }) {}

  int port() const { return peer_.port(); }
  // The requests of `code` so far; of every code for 0.
  int Count(char code = 0) {
    std::lock_guard<std::mutex> lock(mu_);
    return int(std::count_if(requests_.begin(), requests_.end(),
                             [&](const std::string& r) { return code == 0 || r[0] == code; }));
  }
  int Total() { return Count(); }
  // Every request so far (PC text: code, length, data).
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }

 private:
  static std::string Header(char outcome, size_t length) {
    std::string h;
    (void)hostlink::BuildReplyHeader(Tables(), outcome, int32_t(length), &h);
    return h;
  }

  void Serve(hostlink::testing::PeerConnection& c, const Handler& handler) {
    c.Write(Header('0', 0));
    for (;;) {
      const std::string pc = Tables().ToPc(c.Read(6));
      int32_t length = 0;
      if (pc.size() < 6 || !hostlink::ParseLengthDigits(pc.substr(1), 99999, &length).ok()) return;
      const std::string data = Tables().ToPc(c.Read(size_t(length)));
      if (data.size() < size_t(length)) return;
      {
        std::lock_guard<std::mutex> lock(mu_);
        requests_.push_back(pc + data);
      }
      const HostReply r = handler(pc[0], data);
      if (r.kind == HostReply::kClose) return;
      if (r.kind == HostReply::kSilent) {
        (void)c.SeesEnd();
        return;
      }
      c.Write(r.kind == HostReply::kRaw       ? r.data
              : r.kind == HostReply::kRefused ? Header('1', 0)
                                              : Header('0', r.data.size()) + r.data);
    }
  }

  std::mutex mu_;
  std::vector<std::string> requests_;
  hostlink::testing::ScriptedPeer peer_;
};

// A host with databases, files and fields as lists; serves "3", "1", "2" and P/T.
struct HostCatalogue {
  std::vector<std::string> databases;                      // entries (host bytes)
  std::vector<std::string> files;                          // entries (host bytes)
  std::map<std::string, std::vector<std::string>> fields;  // "LIB       FILE      " -> entries
  std::string time_reply = TimeReply("20261205230000", "20261206060000", "20261205140509123");

  HostReply Answer(char code, const std::string& data) {
    auto list = [&](const std::vector<std::string>& entries, size_t& cursor) {
      if (!data.empty() && data[0] == 'S') cursor = 0;
      if (cursor >= entries.size()) return HostReply::Refused();
      return HostReply::Served(entries[cursor++]);
    };
    static const std::vector<std::string> none;
    if (code == 'P' || code == 'T') return HostReply::Served(time_reply);
    if (code == '3') return list(databases, db_cursor);
    if (code == '1') return list(files, file_cursor);
    if (code != '2') return HostReply::Refused();
    auto it = fields.find(data.substr(1));
    return list(it == fields.end() ? none : it->second, field_cursor);
  }
  size_t db_cursor = 0, file_cursor = 0, field_cursor = 0;
};

}  // namespace torvan::testing
