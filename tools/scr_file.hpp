#pragma once
// A.SCR as blockeig reads it: record 1 holds N (a 4-byte integer), record 2
// the N*N doubles column by column.
#include <cstdint>

#include "tools/matrix.hpp"
#include "tools/record_codec.hpp"

namespace scrtool {

// Emits the two records of `m` in `order`. Requires min_order <= m.n <= max_order.
void emit_scr(const Matrix& m, ByteOrder order, const ByteSink& sink);
Bytes encode_scr(const Matrix& m, ByteOrder order);

// Reads N and the matrix from records 1 and 2 stored in `order`, accepting
// exactly what blockeig accepts (longer records, further records and a
// differing trailing marker included). Throws ToolError describing the first
// damage otherwise.
Matrix read_scr(const ByteSource& file, ByteOrder order);
// The same for a file whose verdict in `order` is already known to be
// acceptance.
Matrix read_accepted_scr(const ByteSource& file, ByteOrder order);

// The byte order whose first record is framed consistently (complete, at
// least 4 data bytes, equal markers); little-endian when both or neither are.
// `certain` tells whether some order framed consistently.
struct OrderGuess {
  ByteOrder order = ByteOrder::little;
  bool certain = false;
};
OrderGuess detect_byte_order(const ByteSource& file);

}  // namespace scrtool
