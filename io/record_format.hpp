#pragma once
// The unformatted sequential record, as blockeig reads and writes it and
// scrtool makes and inspects it: a 4-byte signed length marker L, L data
// bytes, the same marker again. Markers and numbers are stored in this
// machine's order, little-endian, unless bytes are reversed (big-endian
// files, BLOCKEIG_CONVERT).
//
// A.SCR holds two such records: the order N (a 4-byte integer), then the
// N x N matrix of doubles, column by column.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace blockeig::io {

static_assert(std::endian::native == std::endian::little, "stored numbers are this machine's order, little-endian");

inline constexpr std::size_t marker_size = 4;

// The record length limit (RECL): a record that announces more data bytes
// is refused, and none longer can be written.
inline constexpr std::int64_t max_record_length = 1'000'000'000;

// The largest order N whose N x N doubles fit one record.
inline constexpr std::int64_t max_matrix_order = [] {
  std::int64_t low = 0, high = max_record_length;  // 8*low*low fits, 8*high*high does not
  while (high - low > 1) {
    const std::int64_t mid = (low + high) / 2;
    (mid * mid <= max_record_length / 8 ? low : high) = mid;
  }
  return low;
}();

// Reverses the bytes of one stored item in place.
inline void reverse_bytes(void* item, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(item);
  for (std::size_t i = 0, j = size; i + 1 < j; ++i, --j) std::swap(bytes[i], bytes[j - 1]);
}

// The value of type T stored at `bytes`, reversed or not.
template <class T>
T load_item(const void* bytes, bool reversed) {
  unsigned char copy[sizeof(T)];
  std::memcpy(copy, bytes, sizeof(T));
  if (reversed) reverse_bytes(copy, sizeof(T));
  T value;
  std::memcpy(&value, copy, sizeof(T));
  return value;
}

// Stores `value` at `out`, reversed or not.
template <class T>
void store_item(T value, bool reversed, void* out) {
  std::memcpy(out, &value, sizeof(T));
  if (reversed) reverse_bytes(out, sizeof(T));
}

// What a reader finds where a record should begin. Every reader of A.SCR
// (the program's units, the library, scrtool) frames its records with
// frame_record below and turns the framing into its own kind of error.
enum class Framing {
  complete,         // a leading marker within the limit, and the data and the trailing marker behind it
  end_of_file,      // no byte left: the file ends cleanly before this record
  partial_marker,   // 1 to 3 bytes where a leading marker belongs
  negative_length,  // a leading marker with bit 31 set, which no record writer makes
  over_limit,       // a leading marker above the record length limit
  truncated,        // the file ends inside the data or the trailing marker
};

struct RecordFraming {
  Framing framing = Framing::end_of_file;
  std::int32_t length = 0;  // the leading marker; 0 unless all 4 of its bytes were there
};

// The framing of a record from what the file gives where it begins.
//   marker        [in] the bytes found there, at most marker_size (fewer
//                      only where the file ends).
//   reversed      [in] whether markers are stored in reversed byte order.
//   after_marker  [in] the bytes the file holds after the leading marker;
//                      negative when that is not known (a stream).
//   recl          [in] the record length limit; a length equal to it passes.
// `complete` from a stream only says that the leading marker is sound: a
// reader that then finds fewer than length + marker_size bytes behind it
// has a `truncated` record.
inline RecordFraming frame_record(std::span<const unsigned char> marker, bool reversed, std::int64_t after_marker,
                                  std::int64_t recl = max_record_length) {
  if (marker.empty()) return {Framing::end_of_file, 0};
  if (marker.size() < marker_size) return {Framing::partial_marker, 0};
  const auto length = load_item<std::int32_t>(marker.data(), reversed);
  if (length < 0) return {Framing::negative_length, length};
  if (length > recl) return {Framing::over_limit, length};
  // Both terms are below 2^31 + 4: the sum cannot overflow.
  if (after_marker >= 0 && after_marker < std::int64_t{length} + static_cast<std::int64_t>(marker_size))
    return {Framing::truncated, length};
  return {Framing::complete, length};
}

// Where a record that is not complete lies, for the words that describe it.
struct RecordPlace {
  int record = 1;              // 1 for the first record of the file
  std::int64_t offset = 0;     // of its leading marker
  std::int64_t available = 0;  // the bytes from there to the end of the file (or, from a
                               // stream, to where the reader found it ended)
};

// What is wrong with a record that is not complete, in words:
// "the length marker of record 2 at byte 12 is negative (-8)". Empty for a
// complete record.
std::string framing_text(const RecordFraming& framing, const RecordPlace& place);

// The bytes of a whole record holding `data` (at most max_record_length
// bytes; the caller checks).
inline std::string record_bytes(std::string_view data, bool reversed = false) {
  char marker[marker_size];
  store_item(static_cast<std::int32_t>(data.size()), reversed, marker);
  std::string record(marker, marker_size);
  record.append(data).append(marker, marker_size);
  return record;
}

// The stored bytes of `values`, in order.
template <class T>
std::string item_bytes(std::span<const T> values, bool reversed = false) {
  std::string bytes(values.size() * sizeof(T), '\0');
  for (std::size_t k = 0; k < values.size(); ++k) store_item(values[k], reversed, bytes.data() + k * sizeof(T));
  return bytes;
}

// A whole A.SCR: the order, then the matrix (n*n doubles, column by column;
// n at most max_matrix_order).
inline std::string matrix_file_bytes(std::int32_t n, std::span<const double> column_major, bool reversed = false) {
  const std::int32_t order[] = {n};
  return record_bytes(item_bytes<std::int32_t>(order, reversed), reversed) +
         record_bytes(item_bytes(column_major, reversed), reversed);
}

}  // namespace blockeig::io
