#include "platform/file.h"
#include "platform/temp_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

namespace torvan::platform {
namespace {

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = folder_.path(); }
  platform::TempFolder folder_{"torvan-test"};
  std::string dir_;
};

TEST_F(FileTest, AtomicWriteReplacesTheFileWithTheAskedMode) {
  std::string path = dir_ + "/secret.ini";
  ASSERT_TRUE(WriteFileAtomic(path, "one", 0644).ok());
  ASSERT_TRUE(WriteFileAtomic(path, "two", 0600).ok());
  std::string contents;
  ASSERT_TRUE(ReadFile(path, &contents).ok());
  EXPECT_EQ("two", contents);
  struct stat st {};
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  EXPECT_FALSE(FileExists(path + ".tmp"));
}

TEST_F(FileTest, AppendAddsAtTheEndAndMissingFilesAreNotFound) {
  std::string path = dir_ + "/log";
  ASSERT_TRUE(AppendToFile(path, "a\r\n").ok());
  ASSERT_TRUE(AppendToFile(path, "b\r\n").ok());
  std::string contents;
  ASSERT_TRUE(ReadFile(path, &contents).ok());
  EXPECT_EQ("a\r\nb\r\n", contents);
  EXPECT_EQ(Status::Code::kNotFound, ReadFile(dir_ + "/none", &contents).code());
  EXPECT_FALSE(AppendToFile(dir_ + "/no/such/dir/log", "x").ok());
}

}  // namespace
}  // namespace torvan::platform
