#pragma once
// scrtool's view of unformatted sequential records (their layout and limit:
// io/record_format.hpp). Pure functions over bytes, in either byte order,
// with every length checked before it is used, so that a damaged file is
// described instead of ending the process.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "io/record_format.hpp"

namespace scrtool {

using Bytes = std::vector<std::uint8_t>;

enum class ByteOrder { little, big };

using blockeig::io::max_record_length;

std::int32_t decode_int32(const std::uint8_t* p, ByteOrder order);
std::int64_t decode_int64(const std::uint8_t* p, ByteOrder order);
double decode_double(const std::uint8_t* p, ByteOrder order);
void encode_int32(std::int32_t value, ByteOrder order, std::uint8_t* out);
void encode_double(double value, ByteOrder order, std::uint8_t* out);

// Random access to the bytes of a file, or of a buffer in tests.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::int64_t size() const = 0;
  // Copies min(out.size(), size() - offset) bytes from `offset`; returns the
  // count copied. Requires 0 <= offset <= size().
  virtual std::size_t read(std::int64_t offset, std::span<std::uint8_t> out) const = 0;
  // The file the bytes are read from; empty for bytes held in memory.
  virtual std::string file_path() const { return {}; }
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::int64_t size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  std::size_t read(std::int64_t offset, std::span<std::uint8_t> out) const override;

 private:
  std::span<const std::uint8_t> bytes_;
};

// What a reader finds where a record should begin (io/record_format.hpp).
using blockeig::io::Framing;

struct RecordFrame {
  Framing framing = Framing::end_of_file;
  std::int64_t offset = 0;       // file offset of the leading marker
  std::int32_t length = 0;       // leading marker (meaningful unless end_of_file/partial_marker)
  std::int32_t trailing = 0;     // trailing marker, when complete
  std::int64_t available = 0;    // bytes from the offset to the end of the file
  std::int64_t data_offset() const { return offset + 4; }
  std::int64_t next_offset() const { return offset + 8 + length; }
  bool trailing_matches() const { return trailing == length; }
};

// What is wrong with record `number` when it is not complete, in the words
// every reader of A.SCR uses (blockeig::io::framing_text).
std::string framing_text(const RecordFrame& frame, int number);

// Frames the record whose leading marker should be at `offset`.
RecordFrame frame_record(const ByteSource& file, std::int64_t offset, ByteOrder order);

// Frames every record from the start up to the first one that is not
// complete (that last frame is included, an end_of_file one as well), or
// until `max_records` complete ones have been framed.
std::vector<RecordFrame> frame_records(const ByteSource& file, ByteOrder order,
                                       std::size_t max_records = 64);

// Receives the bytes of a file being written, piece by piece.
using ByteSink = std::function<void(std::span<const std::uint8_t>)>;

// The marker for a record of `bytes` data bytes; throws ToolError when that
// is more than max_record_length.
std::int32_t record_length_for(std::uint64_t bytes);
// Emits one 4-byte length marker; a record is marker, data, marker.
void emit_marker(std::int32_t length, ByteOrder order, const ByteSink& sink);
// Appends one whole record to `file`.
void append_record(Bytes& file, std::span<const std::uint8_t> data, ByteOrder order);

}  // namespace scrtool
