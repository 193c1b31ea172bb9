#pragma once
// One item of a transfer statement: a 32-bit integer, a double, or a
// character constant. Items are passed by value; a character item refers to
// text that outlives the statement.
#include <cstdint>
#include <string_view>

namespace blockeig::io {

struct Item {
  enum class Kind { integer, real, character };

  Item(std::int32_t value) : kind(Kind::integer), integer(value) {}
  Item(double value) : kind(Kind::real), real(value) {}
  Item(std::string_view value) : kind(Kind::character), text(value) {}
  Item(const char* value) : kind(Kind::character), text(value) {}

  Kind kind;
  std::int32_t integer = 0;
  double real = 0.0;
  std::string_view text;
};

}  // namespace blockeig::io
