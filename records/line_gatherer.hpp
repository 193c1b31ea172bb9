#pragma once
// Lines gathered from bytes that come a piece at a time (a file read in
// pieces), into a buffer of fixed size: a line longer than the buffer is
// refused, never grown into, so a hostile file costs no memory.
#include <cstddef>
#include <cstring>
#include <string_view>

namespace blockeig {

template <std::size_t Capacity>
class LineGatherer {
 public:
  enum class Step { more, line, too_long };
  // The longest line taken, without its '\n'.
  static constexpr std::size_t capacity = Capacity;

  // Takes bytes from the front of `bytes` up to and including the next
  // '\n'. Returns `line` when line() holds a whole line (without its '\n'),
  // `more` when every byte was taken and the line goes on, `too_long` when
  // the line does not fit.
  Step take(std::string_view& bytes) {
    const std::size_t end = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, end);
    if (piece.size() > Capacity - length_) return Step::too_long;
    std::memcpy(line_ + length_, piece.data(), piece.size());
    length_ += piece.size();
    if (end == std::string_view::npos) {
      bytes = {};
      return Step::more;
    }
    bytes.remove_prefix(end + 1);
    return Step::line;
  }

  std::string_view line() const { return {line_, length_}; }
  bool empty() const { return length_ == 0; }
  void clear() { length_ = 0; }

 private:
  char line_[Capacity] = {};
  std::size_t length_ = 0;
};

}  // namespace blockeig
