#include "platform/file.h"
#include "platform/crc32.h"
#include "platform/temp_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/process.h"

namespace torvan::platform {
namespace {

class FileTest : public ::testing::Test {
 protected:
  platform::TempFolder folder_{"torvan-test"};
  const std::string dir_ = folder_.path();
  static mode_t Mode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
  }
};

TEST_F(FileTest, AtomicWriteReplacesTheFileWithTheAskedMode) {
  std::string path = dir_ + "/secret.ini";
  ASSERT_TRUE(WriteFileAtomic(path, "one", 0644).ok());
  ASSERT_TRUE(WriteFileAtomic(path, "two", 0600).ok());
  EXPECT_EQ(std::tuple("two", 0600u, false),
            std::tuple(testing::ReadText(path), Mode(path), FileExists(path + ".tmp")));
  // The umask narrows nothing the caller asked for.
  const mode_t umask_before = ::umask(077);
  ASSERT_TRUE(WriteFileAtomic(path, "three", 0644).ok());
  ::umask(umask_before);
  EXPECT_EQ(0644u, Mode(path));
  // A write that cannot be put in place leaves no temporary file behind.
  ASSERT_EQ(0, ::mkdir((dir_ + "/folder").c_str(), 0700));
  EXPECT_FALSE(WriteFileAtomic(dir_ + "/folder", "x", 0600).ok());
  EXPECT_FALSE(FileExists(dir_ + "/folder.tmp"));
}

TEST_F(FileTest, AppendsGoAtTheEndMissingFilesAreNotFoundRotatedOnesAreMadeAgain) {
  std::string path = dir_ + "/log";
  ASSERT_TRUE(AppendToFile(path, "a\r\n", /*durable=*/true).ok());  // made, and its folder synced
  ASSERT_TRUE(AppendToFile(path, "b\r\n").ok());
  EXPECT_EQ("a\r\nb\r\n", testing::ReadText(path));
  std::string contents;
  EXPECT_EQ(Status::Code::kNotFound, ReadFile(dir_ + "/none", &contents).code());
  EXPECT_FALSE(AppendToFile(dir_ + "/no/such/dir/log", "x").ok());
  EXPECT_EQ("open " + dir_ + "/none: No such file or directory",
            SyncFolder(dir_ + "/none").message());
  EXPECT_EQ(dir_, FolderOf(path));
  EXPECT_EQ(".", FolderOf("log"));

  // The log writer follows its path, makes a rotated or removed file again, loses unopenable
  // lines.
  const std::string log = dir_ + "/TnC.Log", other = dir_ + "/other.Log";
  AppendingFile file;  // kept open a second
  ASSERT_TRUE(file.Append(log, "one\r\n").ok());
  EXPECT_FALSE(file.Append(dir_ + "/missing/TnC.Log", "lost\r\n").ok());
  ASSERT_TRUE(file.Append(log, "two\r\n").ok());
  ASSERT_TRUE(file.Append(other, "elsewhere\r\n").ok());
  AppendingFile reopened(std::chrono::milliseconds(0));
  ASSERT_TRUE(reopened.Append(log, "three\r\n").ok());
  ASSERT_EQ(0, ::rename(log.c_str(), (log + ".1").c_str()));
  ASSERT_TRUE(reopened.Append(log, "after rotation\r\n").ok());
  ASSERT_TRUE(RemoveFile(log).ok());
  ASSERT_TRUE(reopened.Append(log, "after removal\r\n").ok());
  EXPECT_EQ("one\r\ntwo\r\nthree\r\n", testing::ReadText(log + ".1"));
  EXPECT_EQ("elsewhere\r\n", testing::ReadText(other));
  EXPECT_EQ("after removal\r\n", testing::ReadText(log));
}

// The CRC's standard check values, below, at and across its eight-byte steps, at every cut.
TEST(Crc32, GivesTheStandardCheckValues) {
  const std::pair<std::string_view, uint32_t> rows[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"12345678", 0x9AE0DAAFu},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const auto& [bytes, crc] : rows) {
    EXPECT_EQ(crc, Crc32(bytes)) << bytes;
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
      EXPECT_EQ(crc, Crc32Extend(Crc32(bytes.substr(0, cut)), bytes.substr(cut))) << bytes << cut;
    }
  }
}

TEST(ProcessTest, AliveUntilKilledZombiesIncluded) {
  EXPECT_TRUE(ProcessAlive(::getpid()));
  EXPECT_FALSE(ProcessAlive(0));
  EXPECT_FALSE(ProcessAlive(-1));
  // Killed and not reaped yet (a zombie): gone.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  for (int i = 0; i < 500 && ProcessAlive(child); ++i) ::usleep(2000);
  EXPECT_FALSE(ProcessAlive(child));
  ASSERT_EQ(child, ::waitpid(child, nullptr, 0));
  EXPECT_FALSE(ProcessAlive(child));
}

}  // namespace
}  // namespace torvan::platform
