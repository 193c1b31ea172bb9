#pragma once
// The console texts and formats that a reader of a saved transcript (scrtool
// plot) looks for, and the format of the eigenvalue file's lines.
// List-directed lines begin with a blank of their own.
#include <string_view>

namespace blockeig::console_text {

inline constexpr std::string_view order = "N = ";
inline constexpr std::string_view direct_ierr = "diagonalized - direct, IERR: ";
inline constexpr std::string_view table_heading = "block  dimension start  end";
// The summary: E(1), E(2), E(N-1) and E(N) of the direct solve.
inline constexpr std::string_view summary_format = "(4g12.3)";
// A block line (IB and four values) and a sweep line (ITER and six values).
inline constexpr std::string_view iteration_format = "(i5,6g12.3)";
// A line of C.SCR.TXT: the position and the direct eigenvalue there.
inline constexpr std::string_view eigenvalue_line_format = "(i12,F12.6)";

}  // namespace blockeig::console_text
