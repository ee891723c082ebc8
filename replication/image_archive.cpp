#include "replication/image_archive.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "core/text.h"
#include "hostlink/exchange.h"
#include "hostlink/field.h"
#include "hostlink/host_format.h"
#include "platform/file.h"
#include "replication/kill_point.h"

namespace torvan {

namespace ia = hostlink::image_archive;

namespace {

constexpr char kRoutine[] = "Server_SQL_Sincro";

hostlink::FieldText At(const hostlink::CharTables& tables, std::string_view data, int32_t base,
                       hostlink::FieldPos f, char type) {
  return hostlink::Field_Decode(tables, data, type, base + f.pos, f.len, f.len, 0);
}

Status WriteAll(int fd, std::string_view bytes, const std::string& path) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return PosixError("write " + path, errno);
    done += size_t(n);
  }
  return Status::Ok();
}

}  // namespace

std::string ImageExtension(char type_code) {
  switch (type_code) {
    case '0':
    case '1':
    case '2':
    case 'A':
      return ".TIF";
    case '3':
    case '4':
      return ".BMP";
    case '5':
    case '6':
      return ".JPG";
    case '7':
    case '8':
    case '9':
      return ".PNG";
    default:
      return "";
  }
}

Status ImagePrefix(const Program& program, std::string_view folder, std::string_view key,
                   std::string* prefix) {
  const std::string k(key);
  if (k.find_first_of(std::string("/\\\0", 3)) != std::string::npos) {
    return Status::Fault("chiave d'immagine non valida \"" + k + "\"");
  }
  std::string f(folder);
  if (!f.empty() && f[0] != '/') f = program.paths.base + "/" + f;
  if (f.empty()) f = program.paths.base + "/";
  *prefix = f + k;
  return Status::Ok();
}

std::string ImageFileName(std::string_view prefix, int32_t part, std::string_view extension) {
  return std::string(prefix) + ZeroPad(part, 5) + std::string(extension);
}

Status DeleteImages(Program& program, const hostlink::CharTables& tables, std::string_view data,
                    const HostChange& change, std::string_view folder) {
  const int32_t base = change.code == '1' ? change.after_base : change.before_base;
  const hostlink::FieldText key = At(tables, data, base, ia::kKey, 'A');
  if (!key.ok()) return key.status;
  std::string prefix;
  Status s = ImagePrefix(program, folder, key.text, &prefix);
  if (!s.ok()) return s;
  const size_t slash = prefix.rfind('/');
  const std::string dir = prefix.substr(0, slash + 1);
  const std::string name_start = prefix.substr(slash + 1);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return Status::Ok();  // no folder: no image files
  std::vector<std::string> doomed;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.compare(0, name_start.size(), name_start) == 0 &&
        name.find('.', name_start.size()) != std::string::npos) {
      doomed.push_back(dir + name);
    }
  }
  ::closedir(d);
  for (const std::string& path : doomed) {
    Status r = platform::RemoveFile(path);
    if (!r.ok()) return r;
  }
  return Status::Ok();
}

Status FetchImages(Program& program, hostlink::SocketLayer& socket, std::string_view data,
                   const HostChange& change, std::string_view folder) {
  const hostlink::CharTables& tables = socket.tables();
  const int32_t base = change.after_base;
  const hostlink::FieldText state = At(tables, data, base, ia::kState, 'A');
  if (!state.ok()) return state.status;
  if (state.text != " ") return Status::Ok();
  const hostlink::FieldText type = At(tables, data, base, ia::kType, 'A');
  if (!type.ok()) return type.status;
  const std::string extension = ImageExtension(type.text.empty() ? ' ' : type.text[0]);
  if (extension.empty()) return Status::Ok();
  const hostlink::FieldText key = At(tables, data, base, ia::kKey, 'A');
  const hostlink::FieldText parts = At(tables, data, base, ia::kParts, 'S');
  if (!key.ok()) return key.status;
  if (!parts.ok()) return parts.status;
  std::string prefix;
  Status s = ImagePrefix(program, folder, key.text, &prefix);
  if (!s.ok()) return s;

  const int32_t count = NumericValue(parts.text);
  for (int32_t part = 1; part <= count; ++part) {
    const std::string path = ImageFileName(prefix, part, extension);
    int fd;
    do {
      fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return PosixError("open " + path, errno);
    for (int32_t chunk = 1;; ++chunk) {
      const std::string request =
          PadRight(key.text, 10) + "1" + ZeroPad(part, 5) + ZeroPad(chunk, 5);
      hostlink::ExchangeReply reply =
          hostlink::Exchange(socket, program, kRoutine, hostlink::kRequestImage, request,
                             program.stats.Stat_Contatori[kReceiveDelayCycles]);
      if (reply.outcome == hostlink::ExchangeReply::Outcome::kRefused) break;
      if (!reply.served()) {
        ::close(fd);
        return Status::Closed("collegamento interrotto durante l'immagine " + path);
      }
      s = WriteAll(fd, reply.raw, path);
      if (!s.ok()) {
        ::close(fd);
        return s;
      }
      KillPoint("image-chunk");
    }
    if (::close(fd) != 0) return PosixError("close " + path, errno);
  }
  return Status::Ok();
}

}  // namespace torvan
