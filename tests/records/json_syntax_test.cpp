// The JSON syntax check agrees with an independent reader on what is one
// JSON text, fed whole and a byte at a time, and counts the elements of the
// array under its key at the top level only.
#include "records/json_syntax.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace blockeig {
namespace {

TEST(JsonSyntax, AgreesWithAnIndependentReader) {
  const std::string texts[] = {
      "{}", "[]", "0", "-0.0", "1e+300", "-2.5E-7", "\"\\u00e9\\n\"", "true", " [null , false] ",
      "{\"a\": [1, {\"b\": []}], \"c\": \"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"}",
      // Not JSON.
      "", "{", "[1,]", "{\"a\" 1}", "{\"a\": 1,}", "01", "1.", ".5", "-", "1e", "+1", "tru", "nul",
      "\"a", "\"\x01\"", "\"\\x\"", "\"\\u12g4\"", "[1] 2", "NaN", "\"\xc0\xaf\"", "\"\xed\xa0\x80\"",
      "\"\xf4\x90\x80\x80\"", "\"\xe2\x82\"", "[\"\x80\"]", "{1: 2}", "[}", std::string(40, '[') + std::string(40, ']'),
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    const bool valid = nlohmann::json::accept(text);
    JsonSyntax whole("");
    whole.feed(text);
    EXPECT_EQ(whole.finish(), valid && text.size() != 80);  // nesting deeper than 32 is refused
    JsonSyntax bytewise("");
    for (const char c : text) bytewise.feed(std::string_view(&c, 1));
    EXPECT_EQ(bytewise.finish(), valid && text.size() != 80);
  }
}

TEST(JsonSyntax, CountsTheArrayUnderItsKeyAtTheTop) {
  const std::pair<std::string, std::uint64_t> cases[] = {
      {"{\"sweeps\": [{\"sweeps\": [1, 2, 3]}, [4], 5]}", 3},
      {"{\"a\": {\"sweeps\": [1, 2]}, \"sweeps\": []}", 0},
      {"{\"sweep\": [1], \"sweepss\": [1, 2]}", 0},
      {"{\"sweeps\": 7}", 0},
  };
  for (const auto& [text, count] : cases) {
    SCOPED_TRACE(text);
    JsonSyntax check("sweeps");
    check.feed(text);
    EXPECT_TRUE(check.finish());
    EXPECT_EQ(check.counted(), count);
  }
  // A text cut between the counted array's elements, and cut elsewhere.
  for (const auto& [text, open] : {std::pair<std::string, bool>{"{\"sweeps\": [", true}, {"{\"sweeps\": [{}", true},
                                   {"{\"sweeps\": [{}, [1", false}, {"{\"sweeps\": [], \"x\": [", false}}) {
    JsonSyntax check("sweeps");
    check.feed(text);
    EXPECT_EQ(check.in_counted_array(), open) << text;
  }
}

}  // namespace
}  // namespace blockeig
