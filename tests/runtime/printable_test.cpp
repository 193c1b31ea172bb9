#include "runtime/printable.hpp"

#include <gtest/gtest.h>

#include <string>

namespace blockeig::runtime {
namespace {

TEST(Printable, ControlsAndBytesThatAreNotUtf8AreQuoted) {
  const std::pair<std::string, std::string> cases[] = {
      {"run.json", "run.json"},
      {"a\\x1b", "a\\x1b"},  // a backslash is kept: shown text shows the same
      {std::string("nul\0", 4), "nul\\x00"},
      {"\x1b[31mX", "\\x1b[31mX"},
      {"\x1b]0;PWNED\x07", "\\x1b]0;PWNED\\x07"},
      {"tab\tline\nreturn\r", "tab\\x09line\\x0areturn\\x0d"},
      {"del\x7f", "del\\x7f"},
      {"csi \xc2\x9b" "2J", "csi \\xc2\\x9b2J"},                 // C1 control U+009B
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"latin-1 \xe9t\xe9", "latin-1 \\xe9t\\xe9"},
      {"cut \xe2\x82", "cut \\xe2\\x82"},                        // a character cut short
      {"overlong \xc0\xaf \xe0\x80\xaf", "overlong \\xc0\\xaf \\xe0\\x80\\xaf"},
      {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80"},
      {"beyond \xf4\x90\x80\x80", "beyond \\xf4\\x90\\x80\\x80"},
  };
  for (const auto& [text, shown] : cases) {
    EXPECT_EQ(printable(text), shown);
    EXPECT_EQ(printable(shown), shown);
  }
}

TEST(Printable, LongTextKeepsItsStartAndEnd) {
  const std::string path = "/data/" + std::string(300, 'a') + "/run.json";
  const std::string shown = printable(path, echo_limit);
  EXPECT_LE(shown.size(), echo_limit);
  EXPECT_TRUE(shown.starts_with("/data/aaa")) << shown;
  EXPECT_TRUE(shown.ends_with("aaa/run.json")) << shown;
  // The marker counts the bytes it stands for.
  const std::size_t open = shown.find("[...");
  const std::size_t close = shown.find(" bytes...]");
  ASSERT_NE(close, std::string::npos) << shown;
  const std::size_t omitted = std::stoul(shown.substr(open + 4, close - open - 4));
  EXPECT_EQ(open + omitted + (shown.size() - close - 10), path.size());

  // Quoted bytes count as shown, and a cut never splits one.
  const std::string escapes(100, '\x1b');
  const std::string cut = printable(escapes, 60);
  EXPECT_LE(cut.size(), 60u);
  EXPECT_TRUE(cut.starts_with("\\x1b\\x1b")) << cut;
  EXPECT_TRUE(cut.ends_with("\\x1b\\x1b")) << cut;
  EXPECT_EQ(cut.find("[..."), 20u) << cut;

  // Text within the limit, and a limit too small for both ends.
  EXPECT_EQ(printable(std::string(200, 'b'), 200), std::string(200, 'b'));
  EXPECT_EQ(printable("\xc3\xa9\xc3\xa9\xc3\xa9", 5), "\xc3\xa9\xc3\xa9");
}

TEST(Printable, WritesNoFurtherThanTheBuffer) {
  char buffer[7];
  EXPECT_EQ(write_printable("abc\x1b", buffer), 7u);
  EXPECT_EQ(std::string(buffer, 7), "abc\\x1b");
  EXPECT_EQ(write_printable("abcd\x1b", buffer), 4u);  // the quoted byte does not fit whole
  EXPECT_EQ(write_printable("ab\xc3\xa9\xc3\xa9", std::span(buffer, 5)), 4u);
}

}  // namespace
}  // namespace blockeig::runtime
