// Decoding the fixed part of a host change record.
#include "replication/change_record.h"

#include <gtest/gtest.h>

#include <tuple>

#include "replication/change_record_test_util.h"

namespace torvan {
namespace {

using testing::ChangeData;
using testing::HostField;
using testing::HostText;

// Any code, a blank too, is kept for the caller to judge; a record too short, or whose images
// lie outside it, is a fault that leaves the change untouched.
TEST(DecodeChange, ReadsEveryFieldAndRefusesShortAndOddRecords) {
  for (const char code : {'7', ' '}) {
    HostChange c;
    const std::string data = ChangeData(code, 1234, "CLIENTI", "DATI", "AAAA", "BBBBBB");
    ASSERT_TRUE(DecodeChange(testing::Tables(), data, &c).ok());
    EXPECT_EQ(std::tuple(1234, "CLIENTI", "DATI", code, "20240301101500", 58, 58 + 4),
              std::tie(c.rrn, c.file, c.library, c.code, c.text14, c.before_base, c.after_base));
  }
  const std::string header = ChangeData('4', 1, "F", "L", "", "");
  auto with_offsets = [&](const std::string& before, const std::string& after,
                          const std::string& images) {
    std::string d = header;
    d.replace(0, 4, HostField('B', before, 4));
    d.replace(4, 4, HostField('B', after, 4));
    return d + images;
  };
  struct Row {
    const char* meaning;
    std::string data;
    const char* fault;  // nullptr: decoded
  };
  const Row rows[] = {
      {"nothing at all", "", "record di 0 byte: ne servono almeno 58"},
      {"one byte short of the fixed part", header.substr(0, 57),
       "record di 57 byte: ne servono almeno 58"},
      {"a clear: the fixed part alone", header, nullptr},
      {"an after image that starts where the data ends", with_offsets("0", "3", "abc"), nullptr},
      {"an after offset past the data", with_offsets("0", "4", "abc"),
       "offset delle immagini fuori dal record (0, 4 su 3 byte)"},
      {"a negative before offset", with_offsets("-1", "0", "abc"),
       "offset delle immagini fuori dal record (-1, 0 su 3 byte)"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.meaning);
    HostChange c;
    c.file = "untouched";
    Status s = DecodeChange(testing::Tables(), r.data, &c);
    if (r.fault == nullptr) {
      EXPECT_TRUE(s.ok()) << s.message();
      EXPECT_EQ("F", c.file);
    } else {
      EXPECT_EQ(Status::Code::kFault, s.code());
      EXPECT_EQ(r.fault, s.message());
      EXPECT_EQ("untouched", c.file);
    }
  }
}

}  // namespace
}  // namespace torvan
