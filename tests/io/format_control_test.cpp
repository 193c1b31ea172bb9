#include "io/format_control.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace blockeig::io {
namespace {

struct CollectRecords final : RecordSink {
  std::vector<std::string> records;
  void record(std::string_view text) override { records.emplace_back(text); }
};

std::vector<std::string> records_of(std::string_view format_text, std::initializer_list<Item> items) {
  const FormatParse parse = parse_format(format_text);
  EXPECT_TRUE(parse.ok()) << parse.error;
  CollectRecords sink;
  std::string record;
  const FormatControlResult result = write_formatted_records(parse.format, items, record, sink);
  EXPECT_TRUE(result.ok()) << result.error;
  return sink.records;
}

using Records = std::vector<std::string>;

TEST(FormatControl, ProgramRecords) {
  EXPECT_EQ(records_of("(i12,F12.6)", {1, -1.5}), Records{"           1   -1.500000"});
  EXPECT_EQ(records_of("(i12,F12.6)", {10, 1234.5678}), Records{"          10 1234.567800"});
  EXPECT_EQ(records_of("(4g12.3)", {-1.5, -0.25, 3.0, 12.5}),
            Records{"   -1.50      -0.250        3.00        12.5    "});
  EXPECT_EQ(records_of("(i5,6g12.3)", {1, -1.5, -0.25, 3.0, 12.5}),
            Records{"    1   -1.50      -0.250        3.00        12.5    "});
  EXPECT_EQ(records_of("(i5,6g12.3)", {1, -1.5, -0.25, 3.0, 12.5, 1000000000001.5, 1.0e-6}),
            Records{"    1   -1.50      -0.250        3.00        12.5       0.100E+13   0.100E-05"});
  EXPECT_EQ(records_of("(i5,6g12.3)", {1, -1.5, -0.25, 3.0, 12.5})[0].size(), 53u);
}

TEST(FormatControl, NewRecordWhenTheFormatIsExhausted) {
  EXPECT_EQ(records_of("(i12,F12.6)", {1, 2.0, 3, 4.0}),
            (Records{"           1    2.000000", "           3    4.000000"}));
  EXPECT_EQ(records_of("(i12,F12.6)", {1, 2.0, 3}), (Records{"           1    2.000000", "           3"}));
  // Control returns to the last top-level group with its repeat count.
  EXPECT_EQ(records_of("(i1,2(i2),i3)", {1, 2, 3, 4, 5, 6, 7, 8}),
            (Records{"1 2 3  4", " 5 6  7", " 8"}));
  EXPECT_EQ(records_of("(i1,(i2,(i3)),i4)", {1, 2, 3, 4, 5, 6, 7}), (Records{"1 2  3   4", " 5  6   7"}));
  EXPECT_EQ(records_of("(2i2)", {1, 2, 3, 4, 5}), (Records{" 1 2", " 3 4", " 5"}));
}

TEST(FormatControl, EarlyEnd) {
  EXPECT_EQ(records_of("(i5,6g12.3)", {7}), Records{"    7"});
  EXPECT_EQ(records_of("(i5,6g12.3)", {}), Records{""});
  EXPECT_EQ(records_of("(2147483647i1)", {1, 2, 3}), Records{"123"});
  EXPECT_EQ(records_of("(2147483647(i1))", {1, 2}), Records{"12"});
}

TEST(FormatControl, TypeMismatch) {
  struct Case {
    const char* format;
    std::initializer_list<Item> items;
    const char* error;
  };
  const Case cases[] = {
      {"(i12,F12.6)", {1.0, 2.0}, "Expected INTEGER for item 1 in formatted transfer, got REAL"},
      {"(i12,F12.6)", {1, 2}, "Expected REAL for item 2 in formatted transfer, got INTEGER"},
      {"(4g12.3)", {1.0, "x"}, "Expected REAL for item 2 in formatted transfer, got CHARACTER"},
      {"(i5)", {"x"}, "Expected INTEGER for item 1 in formatted transfer, got CHARACTER"},
      // Checked before any record goes out, also past the first record.
      {"(i12,F12.6)", {1, 2.0, 3, 4}, "Expected REAL for item 4 in formatted transfer, got INTEGER"},
  };
  for (const Case& c : cases) {
    CollectRecords sink;
    std::string record;
    const FormatControlResult result =
        write_formatted_records(parse_format(c.format).format, c.items, record, sink);
    EXPECT_EQ(result.error, c.error);
    EXPECT_TRUE(sink.records.empty()) << c.format;
  }
}

}  // namespace
}  // namespace blockeig::io
