#pragma once
// JSON string bodies as the results file writes them: quote, backslash and
// control characters escaped, a byte that is not valid UTF-8 (a file name
// may hold one) replaced by U+FFFD. Nothing here allocates, so the writer
// may use it from a report in a signal handler; scrtool uses it to name a
// file in a kept document.
#include <cstddef>
#include <string_view>

namespace blockeig {

// The length of the valid UTF-8 sequence at the start of `s`, or 0.
inline std::size_t utf8_length(std::string_view s) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(0);
  std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                                                      : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length == 0 || length > s.size()) return 0;
  for (std::size_t k = 1; k < length; ++k)
    if ((byte(k) & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and code points beyond U+10FFFF.
  if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) > 0x9F) || (lead == 0xF0 && byte(1) < 0x90) ||
      (lead == 0xF4 && byte(1) > 0x8F))
    return 0;
  return length;
}

// A JSON string body: quote, backslash and control characters escaped, a
// byte that is not valid UTF-8 (a file name may hold one) replaced by
// U+FFFD. `put` takes the output piece by piece; nothing here allocates.
template <typename Put>
void escape_json(std::string_view text, Put&& put) {
  while (!text.empty()) {
    const unsigned char c = static_cast<unsigned char>(text[0]);
    const std::size_t length = utf8_length(text);
    if (c == '"' || c == '\\') {
      const char escaped[2] = {'\\', static_cast<char>(c)};
      put(std::string_view(escaped, 2));
    } else if (c == '\n') {
      put("\\n");
    } else if (c < 0x20) {
      const char escaped[6] = {'\\', 'u', '0', '0', "0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
      put(std::string_view(escaped, 6));
    } else if (length == 0) {
      put("\\ufffd");
    } else {
      put(text.substr(0, length));
      text.remove_prefix(length);
      continue;
    }
    text.remove_prefix(1);
  }
}

}  // namespace blockeig
