#pragma once
// Format strings: parsing "(i12,F12.6)" and the like into a tree of format
// items. Only the data descriptors I, F and G and parenthesized groups are
// supported; anything else is rejected with a message naming it and its
// position.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/edit_integer.hpp"

namespace blockeig::io {

// Largest repeat count accepted before a descriptor or group.
inline constexpr std::int32_t max_repeat_count = 2'147'483'647;

struct FormatItem {
  enum class Kind { integer, fixed, general, group };  // I, F, G, ( ... )

  Kind kind = Kind::integer;
  std::int32_t repeat = 1;
  int w = 0;            // I, F, G: field width (I may have 0: minimal width)
  int m = absent;       // I: minimum digits, absent when not written
  int d = 0;            // F, G: digits after the point / significant digits
  int e = absent;       // G: exponent width, absent when not written
  std::vector<FormatItem> children;  // group: its items in order

  bool operator==(const FormatItem&) const = default;
};

// A parsed format: the items between the outer parentheses.
struct Format {
  std::vector<FormatItem> items;
};

// The parsed format, or an error message such as
// "Unsupported edit descriptor 'A' at position 2 in format \"(A5)\"" (positions count from 1).
struct FormatParse {
  Format format;
  std::string error;  // empty on success

  bool ok() const { return error.empty(); }
};

// Parses a format string: leading blanks, "(", items separated by commas,
// the matching ")", then nothing but blanks. Blanks and tabs between tokens
// are ignored and letters match in either case. An item is an optional
// repeat count (1 to max_repeat_count) followed by Iw[.m], Fw.d, Gw.d[Ee] or
// a non-empty parenthesized group; widths 1 to max_field_width (I also 0),
// m <= w for I with a width, d >= 1 for G, e >= 1.
FormatParse parse_format(std::string_view text);

}  // namespace blockeig::io
