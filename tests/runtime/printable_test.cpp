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
      {"csi \xc2\x9b" "2J", "csi \\xc2\\x9b2J"},                 // C1 control U+009B
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"latin-1 \xe9t\xe9", "latin-1 \\xe9t\\xe9"},
      {"cut \xe2\x82", "cut \\xe2\\x82"},                        // a character cut short
      {"overlong \xc0\xaf \xe0\x80\xaf", "overlong \\xc0\\xaf \\xe0\\x80\\xaf"},
      {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80"},
  };
  for (const auto& [text, shown] : cases) {
    EXPECT_EQ(printable(text), shown);
    EXPECT_EQ(printable(shown), shown);
  }
}

TEST(Printable, LongTextKeepsItsStartAndEnd) {
  // The marker counts the bytes of the text it stands for.
  const std::string path = "/data/" + std::string(300, 'a') + "/run.json";
  EXPECT_EQ(printable(path, echo_limit), "/data/" + std::string(85, 'a') + "[...132 bytes...]" +
                                             std::string(83, 'a') + "/run.json");

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
