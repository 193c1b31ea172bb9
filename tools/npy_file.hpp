#pragma once
// NumPy .npy files (format versions 1, 2 and 3) holding a square 2-D array.
#include <span>
#include <string_view>

#include "tools/matrix.hpp"
#include "tools/record_codec.hpp"

namespace scrtool {

// Reads a square array of dtype float64, float32, int32 or int64 in either
// byte order and either memory order. `name` prefixes the messages. Throws
// ToolError naming the byte offset of anything malformed.
Matrix read_npy(std::span<const std::uint8_t> file, std::string_view name);

// Writes format version 1.0, dtype '<f8', C order.
void emit_npy(const Matrix& m, const ByteSink& sink);

}  // namespace scrtool
