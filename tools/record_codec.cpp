#include "tools/record_codec.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

bool reversed(ByteOrder order) { return order == ByteOrder::big; }

}  // namespace

std::int32_t decode_int32(const std::uint8_t* p, ByteOrder order) {
  return blockeig::io::load_item<std::int32_t>(p, reversed(order));
}

std::int64_t decode_int64(const std::uint8_t* p, ByteOrder order) {
  return blockeig::io::load_item<std::int64_t>(p, reversed(order));
}

double decode_double(const std::uint8_t* p, ByteOrder order) {
  return blockeig::io::load_item<double>(p, reversed(order));
}

void encode_int32(std::int32_t value, ByteOrder order, std::uint8_t* out) {
  blockeig::io::store_item(value, reversed(order), out);
}

void encode_double(double value, ByteOrder order, std::uint8_t* out) {
  blockeig::io::store_item(value, reversed(order), out);
}

std::size_t MemorySource::read(std::int64_t offset, std::span<std::uint8_t> out) const {
  const std::size_t start = static_cast<std::size_t>(offset);
  const std::size_t count = std::min(out.size(), bytes_.size() - start);
  if (count > 0) std::memcpy(out.data(), bytes_.data() + start, count);
  return count;
}

RecordFrame frame_record(const ByteSource& file, std::int64_t offset, ByteOrder order) {
  RecordFrame frame;
  frame.offset = offset;
  frame.available = file.size() - offset;
  std::array<std::uint8_t, 4> marker{};
  const std::size_t got = frame.available > 0 ? file.read(offset, marker) : 0;
  const blockeig::io::RecordFraming framing = blockeig::io::frame_record(
      std::span(marker.data(), got), reversed(order), frame.available - static_cast<std::int64_t>(got));
  frame.framing = framing.framing;
  frame.length = framing.length;
  if (frame.framing == Framing::complete) {
    file.read(offset + 4 + frame.length, marker);
    frame.trailing = decode_int32(marker.data(), order);
  }
  return frame;
}

std::string framing_text(const RecordFrame& frame, int number) {
  return blockeig::io::framing_text({frame.framing, frame.length}, {number, frame.offset, frame.available});
}

std::vector<RecordFrame> frame_records(const ByteSource& file, ByteOrder order,
                                       std::size_t max_records) {
  std::vector<RecordFrame> frames;
  std::int64_t offset = 0;
  while (frames.size() < max_records) {
    frames.push_back(frame_record(file, offset, order));
    if (frames.back().framing != Framing::complete) break;
    offset = frames.back().next_offset();
  }
  return frames;
}

std::int32_t record_length_for(std::uint64_t bytes) {
  if (bytes > static_cast<std::uint64_t>(max_record_length))
    throw ToolError("a record of " + std::to_string(bytes) +
                    " bytes exceeds the record length limit of " + std::to_string(max_record_length) + " bytes");
  return static_cast<std::int32_t>(bytes);
}

void emit_marker(std::int32_t length, ByteOrder order, const ByteSink& sink) {
  std::array<std::uint8_t, 4> marker{};
  encode_int32(length, order, marker.data());
  sink(marker);
}

void append_record(Bytes& file, std::span<const std::uint8_t> data, ByteOrder order) {
  const std::int32_t length = record_length_for(data.size());
  const ByteSink sink = [&file](std::span<const std::uint8_t> piece) {
    file.insert(file.end(), piece.begin(), piece.end());
  };
  emit_marker(length, order, sink);
  sink(data);
  emit_marker(length, order, sink);
}

}  // namespace scrtool
