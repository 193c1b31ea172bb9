#include "io/list_read.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace blockeig::io {
namespace {

// The lines of a text split at its line feeds; a last line without one is
// a line too.
struct TextLines final : LineSource {
  explicit TextLines(std::string_view text) {
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      lines.emplace_back(text.substr(0, end));
      text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
  }
  bool next_line(std::string_view& line) override {
    if (taken == lines.size()) return false;
    line = lines[taken++];
    return true;
  }
  std::vector<std::string> lines;
  std::size_t taken = 0;
};

using Status = ListReadResult::Status;

// What the statement leaves: the integer held 7 before it.
std::string outcome(std::string_view input) {
  TextLines source(input);
  const ListReadResult result = read_list_integer(source, 1);
  switch (result.status) {
    case Status::value: return std::to_string(result.value);
    case Status::null: return "7";
    case Status::end_of_file: return "end of file";
    case Status::error: return result.message;
  }
  return "?";
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
  TextLines source("x\n");
  EXPECT_EQ(read_list_integer(source, 3).message, "Bad integer for item 3 in list input");
  TextLines zero("0*1\n");
  EXPECT_EQ(read_list_integer(zero, 12).message, "Zero repeat count in item 12 of list input");
}

TEST(ListRead, RestOfTheLineIsSkipped) {
  TextLines source("\n 4 5 6\n9\n");
  EXPECT_EQ(read_list_integer(source, 1).value, 4);
  EXPECT_EQ(source.taken, 2u);  // the blank line and the item's line, nothing more
  const ListReadResult next = read_list_integer(source, 1);
  EXPECT_EQ(next.status, Status::value);
  EXPECT_EQ(next.value, 9);
  EXPECT_EQ(read_list_integer(source, 1).status, Status::end_of_file);
}

}  // namespace
}  // namespace blockeig::io
