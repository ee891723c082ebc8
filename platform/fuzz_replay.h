// Replaying fuzz targets in the suite.
//
// Every reader of outside bytes has a fuzz entry point in its module's fuzz/ folder,
// `int Fuzz...(const uint8_t* data, size_t size)`, which returns 0 and aborts on a broken
// invariant, and a corpus folder <module>/fuzz/corpus/<target>/ holding meaningful inputs
// and every input that once crashed it. libFuzzer explores from that corpus (scripts/fuzz,
// clang); in every build the suite replays each corpus file and a fixed set of seeded
// variants of them through the entry point, so what was found once stays found.
//
// For the test programs of the fuzz folders only.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#define TORVAN_FUZZ_REPLAY_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TORVAN_FUZZ_REPLAY_SANITIZED 1
#endif
#endif
#ifdef TORVAN_FUZZ_REPLAY_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace torvan::platform::fuzz {

using Entry = int (*)(const uint8_t* data, size_t size);

struct CorpusFile {
  std::string name;
  std::string bytes;
};

// The files of a corpus folder, sorted by name; false when the folder cannot be listed.
inline bool ReadCorpus(const std::string& folder, std::vector<CorpusFile>* files) {
  files->clear();
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    FILE* f = std::fopen((folder + "/" + name).c_str(), "rb");
    if (f == nullptr) continue;
    std::string bytes;
    char buf[8192];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
    std::fclose(f);
    files->push_back({name, std::move(bytes)});
  }
  ::closedir(dir);
  std::sort(files->begin(), files->end(),
            [](const CorpusFile& a, const CorpusFile& b) { return a.name < b.name; });
  return true;
}

// `seed` with one to four random edits: a bit flipped, a byte replaced (often by one of
// `likely`), bytes inserted, a range erased or repeated, a piece of `other` copied in, the
// end cut off. The same generator state gives the same variant in every build.
inline std::string Mutate(std::mt19937& random, std::string seed, std::string_view other,
                          std::string_view likely) {
  auto below = [&](size_t n) { return n == 0 ? size_t(0) : size_t(random() % n); };
  auto byte = [&]() -> char {
    return !likely.empty() && random() % 2 == 0 ? likely[below(likely.size())] : char(random());
  };
  const int edits = 1 + int(random() % 4);
  for (int k = 0; k < edits; ++k) {
    const size_t at = below(seed.size() + 1);
    switch (random() % 7) {
      case 0:
        if (!seed.empty()) seed[below(seed.size())] ^= char(1u << (random() % 8));
        break;
      case 1:
        if (!seed.empty()) seed[below(seed.size())] = byte();
        break;
      case 2: {
        const size_t n = 1 + below(8);
        for (size_t i = 0; i < n; ++i) seed.insert(seed.begin() + ptrdiff_t(at), byte());
        break;
      }
      case 3:
        seed.erase(at, 1 + below(16));
        break;
      case 4:
        if (at < seed.size()) seed.insert(at, seed.substr(at, 1 + below(32)));
        break;
      case 5:
        if (!other.empty()) {
          const size_t from = below(other.size());
          const std::string piece(other.substr(from, 1 + below(64)));
          seed.replace(at, std::min(piece.size(), seed.size() - at), piece);
        }
        break;
      default:
        seed.resize(below(seed.size() + 1));
        break;
    }
  }
  return seed;
}

namespace internal {

// The input at hand, saved to `path` when the process dies on it (an invariant's abort or
// a sanitizer's report), so that it can be run again or added to the corpus.
struct CurrentInput {
  const char* data = nullptr;
  size_t size = 0;
  char path[512] = {};
};

inline CurrentInput& Current() {
  static CurrentInput current;
  return current;
}

inline void SaveCurrent() {
  const CurrentInput& c = Current();
  if (c.data == nullptr || c.path[0] == '\0') return;
  const int fd = ::open(c.path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  size_t done = 0;
  while (done < c.size) {
    const ssize_t n = ::write(fd, c.data + done, c.size - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  ::close(fd);
  static const char kNote[] = "fuzz replay: the input that failed is in ";
  (void)!::write(2, kNote, sizeof kNote - 1);
  (void)!::write(2, c.path, std::string_view(c.path).size());
  (void)!::write(2, "\n", 1);
}

inline void OnAbort(int) {
  SaveCurrent();
  std::signal(SIGABRT, SIG_DFL);
  std::raise(SIGABRT);
}

inline void WatchDeath() {
  static const bool installed = [] {
    std::signal(SIGABRT, OnAbort);
#ifdef TORVAN_FUZZ_REPLAY_SANITIZED
    __sanitizer_set_death_callback(SaveCurrent);
#endif
    return true;
  }();
  (void)installed;
}

inline int Run(Entry entry, const std::string& bytes) {
  Current().data = bytes.data();
  Current().size = bytes.size();
  const int r = entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  Current().data = nullptr;
  return r;
}

}  // namespace internal

// Replays every file of `folder` through `entry`, then `variants` variants of them (seeded
// with `seed`; `likely` are bytes worth trying in this target). An input that kills the
// process is left in "<target>.failed-input" in the working directory.
inline void Replay(const std::string& target, const std::string& folder, Entry entry, int variants,
                   uint32_t seed, std::string_view likely = {}) {
  std::vector<CorpusFile> corpus;
  ASSERT_TRUE(ReadCorpus(folder, &corpus)) << "no corpus folder " << folder;
  ASSERT_FALSE(corpus.empty()) << "empty corpus folder " << folder;
  internal::WatchDeath();
  std::snprintf(internal::Current().path, sizeof internal::Current().path, "%s.failed-input",
                target.c_str());
  for (const CorpusFile& f : corpus) {
    ASSERT_EQ(0, internal::Run(entry, f.bytes)) << target << " corpus file " << f.name;
  }
  std::mt19937 random(seed);
  for (int i = 0; i < variants; ++i) {
    const CorpusFile& from = corpus[random() % corpus.size()];
    const CorpusFile& other = corpus[random() % corpus.size()];
    const std::string input = Mutate(random, from.bytes, other.bytes, likely);
    ASSERT_EQ(0, internal::Run(entry, input)) << target << " variant " << i << " of " << from.name;
  }
}

}  // namespace torvan::platform::fuzz
