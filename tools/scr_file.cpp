#include "tools/scr_file.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <string>

#include "tools/scr_verdict.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

// Doubles converted per piece when writing or reading record 2.
constexpr std::size_t chunk_elements = 8192;

bool frames_consistently(const ByteSource& file, ByteOrder order) {
  const RecordFrame frame = frame_record(file, 0, order);
  return frame.framing == Framing::complete && frame.length >= 4 && frame.trailing_matches();
}

}  // namespace

void require_blockeig_order(std::int64_t n, const char* where_prefix) {
  if (n < min_order)
    throw ToolError(std::string(where_prefix) + "order " + std::to_string(n) +
                    " is below " + std::to_string(min_order) + ", the smallest order blockeig accepts");
  if (n > max_order)
    throw ToolError(std::string(where_prefix) + "order " + std::to_string(n) +
                    " is above " + std::to_string(max_order) + ": its 8*N*N bytes do not fit one record of " +
                    std::to_string(max_record_length) + " bytes");
}

void emit_scr(const Matrix& m, ByteOrder order, const ByteSink& sink) {
  assert(m.n >= min_order && m.n <= max_order);
  assert(m.a.size() == static_cast<std::size_t>(m.n) * static_cast<std::size_t>(m.n));
  std::array<std::uint8_t, 4> order_bytes{};
  encode_int32(m.n, order, order_bytes.data());
  emit_marker(4, order, sink);
  sink(order_bytes);
  emit_marker(4, order, sink);

  const std::int32_t length = record_length_for(8 * m.a.size());
  emit_marker(length, order, sink);
  Bytes piece;
  for (std::size_t start = 0; start < m.a.size(); start += chunk_elements) {
    const std::size_t count = std::min(chunk_elements, m.a.size() - start);
    piece.resize(8 * count);
    for (std::size_t k = 0; k < count; ++k) encode_double(m.a[start + k], order, &piece[8 * k]);
    sink(piece);
  }
  emit_marker(length, order, sink);
}

Bytes encode_scr(const Matrix& m, ByteOrder order) {
  Bytes out;
  out.reserve(16 + 8 * m.a.size() + 8);
  emit_scr(m, order, [&out](std::span<const std::uint8_t> piece) {
    out.insert(out.end(), piece.begin(), piece.end());
  });
  return out;
}

Matrix read_scr(const ByteSource& file, ByteOrder order) {
  const Verdict verdict = predict_blockeig(file, order);
  if (!verdict.accepted) throw ToolError(verdict_text(verdict));
  return read_accepted_scr(file, order);
}

Matrix read_accepted_scr(const ByteSource& file, ByteOrder order) {
  const RecordFrame first = frame_record(file, 0, order);
  std::array<std::uint8_t, 4> order_bytes{};
  file.read(first.data_offset(), order_bytes);
  Matrix m(decode_int32(order_bytes.data(), order));
  const RecordFrame second = frame_record(file, first.next_offset(), order);
  Bytes piece;
  for (std::size_t start = 0; start < m.a.size(); start += chunk_elements) {
    const std::size_t count = std::min(chunk_elements, m.a.size() - start);
    piece.resize(8 * count);
    file.read(second.data_offset() + static_cast<std::int64_t>(8 * start), piece);
    for (std::size_t k = 0; k < count; ++k) m.a[start + k] = decode_double(&piece[8 * k], order);
  }
  return m;
}

OrderGuess detect_byte_order(const ByteSource& file) {
  if (frames_consistently(file, ByteOrder::little)) return {ByteOrder::little, true};
  if (frames_consistently(file, ByteOrder::big)) return {ByteOrder::big, true};
  return {ByteOrder::little, false};
}

}  // namespace scrtool
