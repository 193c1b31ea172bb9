#pragma once
// The convergence picture of a blockeig run as one self-contained SVG:
// E(1) per sweep against the direct E(1), and DELTA per sweep on a log
// scale against TOL.
#include <string>
#include <string_view>

#include "tools/transcript.hpp"

namespace scrtool {

// Every plotted point is a <circle> with class "e1" or "delta" and the
// attributes data-sweep and data-value (the number read from the
// transcript), so the picture can be checked by reading it back. A DELTA of
// 0 sits on the lower edge with class "delta zero".
std::string render_sweep_plot(const Transcript& transcript, std::string_view source_name);

}  // namespace scrtool
