// The image archive's file names and the deletion of a record's image files.
#include "replication/image_archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/fakes.h"
#include "platform/file.h"
#include "platform/temp_folder.h"
#include "replication/change_record_test_util.h"

namespace torvan {
namespace {

namespace fs = std::filesystem;
using testing::ChangeData;
using testing::HostText;

TEST(ImageExtension, ByTypeCode) {
  const std::pair<char, const char*> rows[] = {
      {'0', ".TIF"}, {'1', ".TIF"}, {'2', ".TIF"}, {'A', ".TIF"}, {'3', ".BMP"},
      {'4', ".BMP"}, {'5', ".JPG"}, {'6', ".JPG"}, {'7', ".PNG"}, {'8', ".PNG"},
      {'9', ".PNG"}, {'B', ""},     {'a', ""},     {' ', ""},     {'\0', ""},
  };
  for (const auto& [code, extension] : rows) EXPECT_EQ(extension, ImageExtension(code)) << code;
}

class ImageFilesTest : public ::testing::Test {
 protected:
  ImageFilesTest() : program_(Paths::InFolder(folder_.path()), &clock_, &pump_) {}
  std::string Name(std::string_view folder, std::string_view key, int part, char type) {
    std::string prefix;
    Status s = ImagePrefix(program_, folder, key, &prefix);
    EXPECT_TRUE(s.ok()) << s.message();
    return ImageFileName(prefix, part, ImageExtension(type));
  }
  std::vector<std::string> Files(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  platform::TempFolder folder_{"torvan-images"};
  platform::FakeClock clock_;
  platform::FakePump pump_{&clock_};
  Program program_;
};

TEST_F(ImageFilesTest, NamesAreFolderKeyPartAndExtension) {
  const std::string base = folder_.path();
  EXPECT_EQ("/srv/img/FOTO00012300001.JPG", Name("/srv/img/", "FOTO000123", 1, '5'));
  EXPECT_EQ("/srv/img/AB        00001.TIF", Name("/srv/img/", "AB        ", 1, 'A'));
  EXPECT_EQ("/srv/img/SCHEDA000499999.PNG", Name("/srv/img/", "SCHEDA0004", 99999, '9'));
  // The folder is a prefix as it stands; a relative one is taken from the base folder.
  EXPECT_EQ("/srv/imgFOTO00012300002.BMP", Name("/srv/img", "FOTO000123", 2, '3'));
  EXPECT_EQ(base + "/immagini/FOTO00012300001.JPG", Name("immagini/", "FOTO000123", 1, '6'));
  EXPECT_EQ(base + "/FOTO00012300001.JPG", Name("", "FOTO000123", 1, '5'));
}

TEST_F(ImageFilesTest, AKeyThatCouldLeaveTheFolderIsAFault) {
  for (const std::string& key :
       {std::string("../../etc/"), std::string("A\\B       "), std::string("AB\0CDEFGHI", 10)}) {
    std::string prefix = "untouched";
    Status s = ImagePrefix(program_, "immagini/", key, &prefix);
    EXPECT_EQ(Status::Code::kFault, s.code()) << key;
    EXPECT_EQ("untouched", prefix);
  }
}

// Archive records of the test: STATO A 1 at 1, CHIAVE A 10 at 2, the rest blank.
std::string Archive(const std::string& key) { return HostText(" " + key, 110); }

TEST_F(ImageFilesTest, DeletionTakesTheKeyOfTheRightImageAndEveryFileWithADot) {
  const std::string dir = folder_ / "immagini";
  fs::create_directory(dir);
  for (const char* name : {"OLD       00001.JPG", "OLD       00002.JPG", "OLD       ",
                           "OLDER     00001.JPG", "NEW       00001.PNG", "OLD       .x"}) {
    ASSERT_TRUE(platform::WriteFileAtomic(dir + "/" + name, "x", 0644).ok());
  }
  // An update: the key of the before image goes.
  const std::string update =
      ChangeData('3', 1, "TNP_ARC_0F", "DATI", Archive("OLD"), Archive("NEW"));
  HostChange c;
  ASSERT_TRUE(DecodeChange(testing::Tables(), update, &c).ok());
  ASSERT_TRUE(DeleteImages(program_, testing::Tables(), update, c, "immagini/").ok());
  EXPECT_EQ(std::vector<std::string>({"NEW       00001.PNG", "OLD       ", "OLDER     00001.JPG"}),
            Files(dir));
  // An added record: the key of the after image goes.
  const std::string added =
      ChangeData('1', 2, "TNP_ARC_0F", "DATI", Archive("OLDER"), Archive("NEW"));
  ASSERT_TRUE(DecodeChange(testing::Tables(), added, &c).ok());
  ASSERT_TRUE(DeleteImages(program_, testing::Tables(), added, c, "immagini/").ok());
  EXPECT_EQ(std::vector<std::string>({"OLD       ", "OLDER     00001.JPG"}), Files(dir));
  // A folder that does not exist holds no image files.
  EXPECT_TRUE(DeleteImages(program_, testing::Tables(), added, c, "altrove/").ok());
}

}  // namespace
}  // namespace torvan
