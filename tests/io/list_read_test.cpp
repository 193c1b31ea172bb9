#include "io/list_read.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace blockeig::io {
namespace {

// The bytes of a text, counting how many were taken.
struct TextBytes final : ByteSource {
  explicit TextBytes(std::string_view text) : text(text) {}
  int next_byte() override { return taken < text.size() ? static_cast<unsigned char>(text[taken++]) : end; }
  std::string_view text;
  std::size_t taken = 0;
};

using Status = ListReadResult::Status;

// What the statement leaves: the integer held 7 before it.
std::string outcome(const ListReadResult& result) {
  switch (result.status) {
    case Status::value: return std::to_string(result.value);
    case Status::null: return "7";
    case Status::end_of_file: return "end of file";
    case Status::error: return result.message;
  }
  return "?";
}

std::string outcome(std::string_view input) {
  TextBytes source(input);
  return outcome(read_list_integer(source, 1));
}

TEST(ListRead, Table) {
  struct Case {
    const char* input;
    const char* result;
  };
  const Case cases[] = {
      {"3\n", "3"},
      {"\n  \n\t\n  -4  \n", "-4"},
      {"+5,9\n", "5"},
      {"2*6\n", "6"},
      {",\n", "7"},
      {"/\n", "7"},
      {"2*\n", "7"},
      {"3.0\n", "Bad integer for item 1 in list input"},
      {"x\n", "Bad integer for item 1 in list input"},
      {"-\n", "Bad integer for item 1 in list input"},
      {"+ 5\n", "Bad integer for item 1 in list input"},
      {"5;\n", "Bad integer for item 1 in list input"},
      {"-5;\n", "Bad integer for item 1 in list input"},
      {"2147483648\n", "Integer overflow while reading item 1"},
      {"-2147483648\n", "Integer overflow while reading item 1"},
      {"0*5\n", "Zero repeat count in item 1 of list input"},
      {"200000000*5\n", "5"},
      {"200000001*5\n", "Repeat count overflow in item 1 of list input"},
      {"7\r\n", "7"},
      {"2*-3\n", "-3"},
      {"", "end of file"},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome(c.input), c.result) << '"' << c.input << '"';
}

TEST(ListRead, MoreCases) {
  struct Case {
    const char* input;
    const char* result;
  };
  const Case cases[] = {
      {"12", "12"},  // a last line without a line feed
      {"2147483647\n", "2147483647"},
      {"-2147483647\n", "-2147483647"},
      {"+0\n", "0"},
      {"-0\n", "0"},
      {"00000000000000000000042\n", "42"},
      {"99999999999999999999999999999\n", "Integer overflow while reading item 1"},
      {"-99999999999999999999999999999\n", "Integer overflow while reading item 1"},
      {"2147483648x\n", "Bad integer for item 1 in list input"},  // syntax before size
      {"99999999999999999999999999*5\n", "Repeat count overflow in item 1 of list input"},
      {"0*\n", "Zero repeat count in item 1 of list input"},
      {"3*x\n", "Bad integer for item 1 in list input"},
      {"3*4*5\n", "Bad integer for item 1 in list input"},
      {"-3*4\n", "Bad integer for item 1 in list input"},
      {"3* 4\n", "7"},
      {"3*,4\n", "7"},
      {"3*/\n", "7"},
      {"3*", "7"},
      {"2*+ 5\n", "Bad integer for item 1 in list input"},
      {"2*2147483648\n", "Integer overflow while reading item 1"},
      {"5/\n", "5"},
      {"5\t9\n", "5"},
      {"5\r", "5"},
      {"\r\n\r\n 8", "8"},
      {"\n\n\n", "end of file"},
      {" \t \r", "end of file"},
      {"*5\n", "Bad integer for item 1 in list input"},
      {"'5'\n", "Bad integer for item 1 in list input"},
      {"5e3\n", "Bad integer for item 1 in list input"},
      {"\n,5\n", "7"},
      {"  ,\n", "7"},
      // Only blank, tab, carriage return and line feed separate; other
      // control characters are no white space.
      {"\f5\n", "Bad integer for item 1 in list input"},
      {"5\v\n", "Bad integer for item 1 in list input"},
      {"5\f\n", "Bad integer for item 1 in list input"},
      {"2*\v\n", "Bad integer for item 1 in list input"},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome(c.input), c.result) << '"' << c.input << '"';
}

TEST(ListRead, ItemNumberInMessages) {
  TextBytes source("x\n");
  EXPECT_EQ(read_list_integer(source, 3).message, "Bad integer for item 3 in list input");
  TextBytes zero("0*1\n");
  EXPECT_EQ(read_list_integer(zero, 12).message, "Zero repeat count in item 12 of list input");
}

// The read stops at the byte that settles the item, whatever follows: the
// rest of the line is never waited for nor held. A NUL is a character like
// any other that cannot be part of an integer.
TEST(ListRead, TakesNoByteBeyondTheOneThatSettles) {
  const std::string endless_line(100'000, 'x');
  struct Case {
    std::string input;
    const char* result;
    std::size_t taken;
  };
  const Case cases[] = {
      {"\n 4 5 6\n9\n", "4", 4},
      {"12," + endless_line, "12", 3},
      {"7" + std::string(1, '\0') + endless_line, "Bad integer for item 1 in list input", 2},
      {std::string(1, '\0') + endless_line, "Bad integer for item 1 in list input", 1},
      {"x" + endless_line, "Bad integer for item 1 in list input", 1},
      {"2*" + endless_line, "Bad integer for item 1 in list input", 3},
      {"2* " + endless_line, "7", 3},
      {"/" + endless_line, "7", 1},
      {"-" + endless_line, "Bad integer for item 1 in list input", 2},
      {"99999999999999999999 " + endless_line, "Integer overflow while reading item 1", 21},
      {"  \t\r\n", "end of file", 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 24));
    TextBytes source(c.input);
    EXPECT_EQ(outcome(read_list_integer(source, 1)), c.result);
    EXPECT_EQ(source.taken, c.taken);
  }
}

}  // namespace
}  // namespace blockeig::io
