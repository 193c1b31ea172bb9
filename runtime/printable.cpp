#include "runtime/printable.hpp"

#include <cstring>

namespace blockeig::runtime {

namespace {

// The length of the printable UTF-8 character at the start of `s`, or 0 when
// its first byte is to be shown as \xNN.
std::size_t printable_character(std::string_view s) {
  const auto byte = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(0);
  if (lead >= 0x20 && lead < 0x7f) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xbf;  // the range of the second byte
  if (lead >= 0xc2 && lead <= 0xdf) length = 2;
  else if (lead >= 0xe0 && lead <= 0xef) length = 3, low = lead == 0xe0 ? 0xa0 : 0x80, high = lead == 0xed ? 0x9f : 0xbf;
  else if (lead >= 0xf0 && lead <= 0xf4) length = 4, low = lead == 0xf0 ? 0x90 : 0x80, high = lead == 0xf4 ? 0x8f : 0xbf;
  if (length == 0 || s.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if (byte(k) < 0x80 || byte(k) > 0xbf) return 0;
  // U+0080 to U+009F: the C1 controls, which terminals act on.
  if (lead == 0xc2 && byte(1) < 0xa0) return 0;
  return length;
}

// One character of the text: the bytes it takes there and shown.
struct Piece {
  std::size_t source;
  std::size_t shown;
};

Piece piece_at(std::string_view text, std::size_t position) {
  const std::size_t length = printable_character(text.substr(position));
  return length > 0 ? Piece{length, length} : Piece{1, 4};
}

std::size_t shown_length(std::string_view text) {
  std::size_t total = 0;
  for (std::size_t position = 0; position < text.size();) {
    const Piece piece = piece_at(text, position);
    total += piece.shown;
    position += piece.source;
  }
  return total;
}

// Writes into the caller's buffer; the first piece that does not fit ends
// the writing.
class Output {
 public:
  explicit Output(std::span<char> out) : out_(out) {}

  void put(std::string_view bytes) {
    if (full_ || out_.size() - used_ < bytes.size()) {
      full_ = true;
      return;
    }
    std::memcpy(out_.data() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
  }
  // The characters of text[from, to) as shown.
  void put_shown(std::string_view text, std::size_t from, std::size_t to) {
    static constexpr char hex[] = "0123456789abcdef";
    while (from < to) {
      const Piece piece = piece_at(text, from);
      if (piece.shown == piece.source) {
        put(text.substr(from, piece.source));
      } else {
        const unsigned char b = static_cast<unsigned char>(text[from]);
        const char quoted[4] = {'\\', 'x', hex[b >> 4], hex[b & 15]};
        put(std::string_view(quoted, 4));
      }
      from += piece.source;
    }
  }
  std::size_t used() const { return used_; }

 private:
  std::span<char> out_;
  std::size_t used_ = 0;
  bool full_ = false;
};

// "[...N bytes...]" in `buffer`; returns its length.
std::size_t cut_marker(std::size_t omitted, char (&buffer)[40]) {
  char digits[24];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + omitted % 10);
    omitted /= 10;
  } while (omitted != 0);
  std::size_t length = 0;
  for (const char c : std::string_view("[...")) buffer[length++] = c;
  while (count > 0) buffer[length++] = digits[--count];
  for (const char c : std::string_view(" bytes...]")) buffer[length++] = c;
  return length;
}

// The end of the characters from `position` on whose shown length stays
// within `budget`.
std::size_t end_within(std::string_view text, std::size_t position, std::size_t budget) {
  std::size_t shown = 0;
  while (position < text.size()) {
    const Piece piece = piece_at(text, position);
    if (shown + piece.shown > budget) break;
    shown += piece.shown;
    position += piece.source;
  }
  return position;
}

// Below this limit a cut keeps the start only: the marker would crowd out
// what it stands between.
constexpr std::size_t least_limit_for_both_ends = 40;

}  // namespace

std::size_t write_printable(std::string_view text, std::span<char> out, std::size_t limit) {
  Output output(out);
  const std::size_t total = shown_length(text);
  if (total <= limit) {
    output.put_shown(text, 0, text.size());
    return output.used();
  }
  if (limit < least_limit_for_both_ends) {
    output.put_shown(text, 0, end_within(text, 0, limit));
    return output.used();
  }
  // The marker is given room for the most digits its count can have.
  char marker[40];
  const std::size_t room = limit - cut_marker(text.size(), marker);
  const std::size_t head_end = end_within(text, 0, room / 2);
  // The tail starts at the first character after which the rest fits.
  std::size_t rest = total - shown_length(text.substr(0, head_end));
  std::size_t tail_start = head_end;
  while (rest > room - room / 2) {
    const Piece piece = piece_at(text, tail_start);
    rest -= piece.shown;
    tail_start += piece.source;
  }
  output.put_shown(text, 0, head_end);
  output.put(std::string_view(marker, cut_marker(tail_start - head_end, marker)));
  output.put_shown(text, tail_start, text.size());
  return output.used();
}

std::string printable(std::string_view text, std::size_t limit) {
  const std::size_t total = shown_length(text);
  std::string shown(total < limit ? total : limit, '\0');
  shown.resize(write_printable(text, shown, limit));
  return shown;
}

}  // namespace blockeig::runtime
