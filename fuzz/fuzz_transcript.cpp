// blockeig console transcripts: read_transcript either returns what it
// found or refuses with one printable line naming the file. What it returns
// is written again as blockeig writes it (the run-time's own I5 and G12.3
// editing) and read back: every line so written must read, the sweeps must
// come back as numbered, and a second round must give the same text, so
// that every field the program can print reads as the value it shows.
//
// Input: the transcript.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "io/edit_integer.hpp"
#include "io/edit_real.hpp"
#include "scrtool_checks.hpp"
#include "tools/transcript.hpp"

namespace {

using blockeig::fuzz::scrtool_finding;
using scrtool::Transcript;

std::string g12_3(double x) {
  char field[blockeig::io::max_field_width];
  return std::string(field, blockeig::io::edit_general(x, 12, 3, blockeig::io::absent, std::span(field)));
}

std::string i5(std::int32_t v) {
  char field[blockeig::io::max_field_width];
  return std::string(field, blockeig::io::edit_integer(v, 5, blockeig::io::absent, std::span(field)));
}

// The lines blockeig writes for what `t` holds; the block lines, which
// read_transcript only counts, are left out.
std::string written_again(const Transcript& t) {
  std::string out;
  if (t.n) out += " N = " + std::to_string(*t.n) + "\n";
  // The line after the IERR line must be the summary; without one, the
  // IERR line goes last. A summary may follow an IERR line whose value did
  // not read.
  const std::string ierr =
      t.ierr ? " diagonalized - direct, IERR: " + std::to_string(*t.ierr) + "\n"
             : t.summary ? " diagonalized - direct, IERR: ?\n" : "";
  if (t.summary) {
    out += ierr;
    for (double v : *t.summary) out += g12_3(v);
    out += "\n";
  }
  out += " block  dimension start  end\n";
  for (std::int32_t b = 1; b <= t.nblocks; ++b) out += " " + std::to_string(b) + " 1 1 1\n";
  for (const scrtool::SweepLine& s : t.sweeps)
    out += i5(s.iter) + g12_3(s.e1) + g12_3(s.e2) + g12_3(s.en1) + g12_3(s.en) + g12_3(s.delta) + g12_3(s.tol) + "\n";
  if (!t.summary) out += ierr;
  return out;
}

Transcript read_written(const std::string& text) {
  try {
    return scrtool::read_transcript(text, "again.txt");
  } catch (const scrtool::ToolError& e) {
    scrtool_finding("a transcript as blockeig writes it is refused", std::string(e.what()) + "\n" + text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Transcript first;
  try {
    first = scrtool::read_transcript(text, "f.txt");
  } catch (const scrtool::ToolError& e) {
    blockeig::fuzz::check_refusal(e, "f.txt");
    return 0;
  }
  for (std::size_t k = 0; k < first.sweeps.size(); ++k) {
    if (first.sweeps[k].iter != static_cast<std::int32_t>(k) + 1) scrtool_finding("sweeps out of order", text);
    if (k > 0 && first.sweeps[k].line <= first.sweeps[k - 1].line) scrtool_finding("sweep lines out of order", text);
  }
  const std::string once = written_again(first);
  const Transcript second = read_written(once);
  if (second.n != first.n || second.ierr != first.ierr || second.nblocks != first.nblocks ||
      second.sweeps.size() != first.sweeps.size() || second.summary.has_value() != first.summary.has_value())
    scrtool_finding("a transcript read back differs", once);
  const std::string twice = written_again(second);
  if (twice != once) scrtool_finding("a transcript written twice differs", once + "---\n" + twice);
  return 0;
}
