#pragma once
// A message of the records assembled without allocating: they report their
// failures while memory may be refused to them. A longer message is cut
// (a report line holds 1024 bytes anyway).
#include <charconv>
#include <concepts>
#include <cstddef>
#include <string_view>

namespace blockeig {

class MessageText {
 public:
  MessageText& operator<<(std::string_view text) {
    length_ += text.copy(text_ + length_, sizeof text_ - length_);
    return *this;
  }
  MessageText& operator<<(std::integral auto number) {
    char digits[24];
    return *this << std::string_view(digits, static_cast<std::size_t>(
                                                 std::to_chars(digits, digits + sizeof digits, number).ptr - digits));
  }
  std::string_view view() const { return {text_, length_}; }

 private:
  char text_[1024];
  std::size_t length_ = 0;
};

}  // namespace blockeig
