// List-directed read of one integer from arbitrary standard-input bytes,
// checked against a straightforward model of the rules that works on the
// whole input at once (the reader takes one byte at a time): the same
// outcome, and no byte taken beyond the one that settles the item.
//
// Input: byte 0 picks the item number quoted in messages; the rest is the
// text of standard input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "io/list_read.hpp"

namespace {

using blockeig::io::ByteSource;
using blockeig::io::ListReadResult;
using Status = ListReadResult::Status;

// Standard input as the unit delivers it, counting the bytes taken.
class Bytes final : public ByteSource {
 public:
  explicit Bytes(std::string_view bytes) : bytes_(bytes) {}
  int next_byte() override { return taken_ < bytes_.size() ? static_cast<unsigned char>(bytes_[taken_++]) : end; }
  std::size_t taken() const { return taken_; }

 private:
  std::string_view bytes_;
  std::size_t taken_ = 0;
};

struct Expected {
  Status status;
  std::int32_t value = 0;
  std::string message;
  std::size_t bytes_taken = 0;  // through the byte that settles the item
};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool ends_value(char c) { return is_space(c) || c == ',' || c == '/'; }

std::string message(const char* format, int item) {
  char text[100];
  std::snprintf(text, sizeof text, format, item);
  return text;
}

// The digit string at s[pos...]: its value when it has at most 10
// significant digits, else a marker above every limit.
std::uint64_t digit_value(std::string_view s, std::size_t& pos) {
  while (pos < s.size() && s[pos] == '0') ++pos;
  std::uint64_t value = 0;
  int significant = 0;
  for (; pos < s.size() && is_digit(s[pos]); ++pos) {
    if (++significant <= 11) value = value * 10 + static_cast<std::uint64_t>(s[pos] - '0');
  }
  return significant > 10 ? UINT64_MAX : value;
}

Expected model(std::string_view s, int item) {
  // Characters past the end read as a line end.
  auto at = [&](std::size_t p) { return p < s.size() ? s[p] : '\n'; };
  // The item is settled by the byte at p (or by the end of the input).
  auto settled_at = [&](Expected& e, std::size_t p) {
    e.bytes_taken = p < s.size() ? p + 1 : s.size();
    return e;
  };
  std::size_t pos = 0;
  while (pos < s.size() && is_space(s[pos])) ++pos;
  Expected e{Status::null, 0, {}, 0};
  if (pos == s.size()) {
    e.status = Status::end_of_file;
    return settled_at(e, pos);
  }
  auto fail = [&](const char* format, std::size_t p) {
    e.status = Status::error;
    e.message = message(format, item);
    return settled_at(e, p);
  };
  auto value = [&](std::size_t p) {
    bool negative = false;
    if (at(p) == '+' || at(p) == '-') negative = at(p++) == '-';
    if (!is_digit(at(p))) return fail("Bad integer for item %d in list input", p);
    const std::uint64_t magnitude = digit_value(s, p);
    if (!ends_value(at(p))) return fail("Bad integer for item %d in list input", p);
    if (magnitude > 2147483647u) return fail("Integer overflow while reading item %d", p);
    e.status = Status::value;
    e.value = static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude));
    return settled_at(e, p);
  };
  const char c = s[pos];
  if (c == ',' || c == '/') return settled_at(e, pos);
  if (c == '+' || c == '-') return value(pos);
  if (!is_digit(c)) return fail("Bad integer for item %d in list input", pos);
  std::size_t p = pos;
  const std::uint64_t number = digit_value(s, p);
  if (at(p) != '*') return value(pos);
  if (number == 0) return fail("Zero repeat count in item %d of list input", p);
  if (number > 200000000u) return fail("Repeat count overflow in item %d of list input", p);
  ++p;
  if (ends_value(at(p))) return settled_at(e, p);
  if (at(p) == '+' || at(p) == '-' || is_digit(at(p))) return value(p);
  return fail("Bad integer for item %d in list input", p);
}

[[noreturn]] void finding(std::string_view input, const char* what) {
  std::fprintf(stderr, "list read mismatch (%s) on %zu bytes\n", what, input.size());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int item = 1 + data[0] % 200;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  Bytes input(text);
  const ListReadResult got = blockeig::io::read_list_integer(input, item);
  const Expected want = model(text, item);
  if (got.status != want.status) finding(text, "status");
  if (got.status == Status::value && got.value != want.value) finding(text, "value");
  if (got.status == Status::error && got.message != want.message) finding(text, "message");
  if (input.taken() != want.bytes_taken) finding(text, "bytes taken");
  return 0;
}
