// Damaged variants of a good A.SCR and of a good transcript, in the suite
// itself: scrtool's inspection of an A.SCR (its framing, verdict and
// rendering) and the transcript reader either give what they promise or
// throw ToolError, never another exception, never a crash (the sanitizer
// build watches memory as well). The matrix parsers (Matrix Market, .npy,
// text) are judged by their fuzz targets (fuzz/), which check far more than
// a mutation loop could: every refusal's words and every matrix read back
// through every format.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>

#include "tools/scr_file.hpp"
#include "tools/scr_inspect.hpp"
#include "tools/tool_error.hpp"
#include "tools/transcript.hpp"

namespace scrtool {
namespace {

std::string mutate(std::string s, std::mt19937_64& rng) {
  const int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits && !s.empty(); ++e) {
    const std::size_t at = rng() % s.size();
    switch (rng() % 5) {
      case 0: s[at] = static_cast<char>(rng()); break;                     // replace a byte
      case 1: s.erase(at, 1 + rng() % 8); break;                           // delete a few
      case 2: s.insert(at, 1, "0123456789 -+.eE\n%'(),"[rng() % 22]); break;  // insert a likely one
      case 3: s.resize(at); break;                                         // truncate
      case 4: s[at] = static_cast<char>(s[at] ^ (1 << (rng() % 8))); break;  // flip a bit
    }
  }
  return s;
}

void survive(const std::string& good, const std::function<void(const std::string&)>& read, int variants = 3000) {
  std::mt19937_64 rng(12345);
  for (int k = 0; k < variants; ++k) {
    const std::string bad = mutate(good, rng);
    try {
      read(bad);
    } catch (const ToolError&) {
    }
  }
}

std::span<const std::uint8_t> bytes_of(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string to_string(const Bytes& b) { return std::string(b.begin(), b.end()); }

Matrix sample() {
  Matrix m(3);
  for (std::size_t k = 0; k < m.a.size(); ++k) m.a[k] = 1.5 * static_cast<double>(k) - 2;
  return m;
}

// Fewer variants: every verdict runs blockeig's reader in a child process
// (the reader itself is fuzz_record_reader's subject).
TEST(MutatedInput, ScrFiles) {
  survive(
      to_string(encode_scr(sample(), ByteOrder::little)),
      [](const std::string& t) {
        const MemorySource source(bytes_of(t));
        const Inspection in = inspect_scr(source);
        render_inspection(in, "A.SCR");
        if (!in.as_is.accepted) return;
        // What blockeig accepts, scrtool reads, with the order blockeig read.
        try {
          const Matrix m = read_scr(source, ByteOrder::little);
          EXPECT_EQ(m.n, in.as_is.n);
          EXPECT_EQ(m.a.size(), static_cast<std::size_t>(m.n) * static_cast<std::size_t>(m.n));
        } catch (const ToolError& e) {
          ADD_FAILURE() << "blockeig accepts the file, scrtool refuses it: " << e.what();
        }
      },
      300);
}

TEST(MutatedInput, Transcripts) {
  const std::string run =
      " N =  4\n diagonalized - direct, IERR:  0\n   -1.50      -0.250        3.00        12.5    \n"
      " block  dimension start  end\n 1 4 1 4\n"
      "    1   -1.50      -0.250        3.00        12.5    \n"
      "    1   -1.50      -0.250        3.00        12.5       0.100E+13   0.100E-05\n";
  const Transcript whole = read_transcript(run, "run.txt");
  EXPECT_EQ(whole.n, 4);
  EXPECT_EQ(whole.nblocks, 1);
  ASSERT_EQ(whole.sweeps.size(), 1u);
  EXPECT_EQ(whole.sweeps[0].line, 7);
  EXPECT_EQ(whole.sweeps[0].e1, -1.5);
  // Whatever a damaged transcript still gives is what the reader promises:
  // sweeps numbered 1, 2, 3, ..., each on a line of the text, in order.
  survive(run, [](const std::string& t) {
    const Transcript r = read_transcript(t, "run.txt");
    const std::int64_t lines = std::count(t.begin(), t.end(), '\n') + 1;
    ASSERT_FALSE(r.sweeps.empty());
    for (std::size_t k = 0; k < r.sweeps.size(); ++k) {
      EXPECT_EQ(r.sweeps[k].iter, static_cast<std::int32_t>(k + 1));
      EXPECT_GE(r.sweeps[k].line, k == 0 ? 1 : r.sweeps[k - 1].line + 1);
      EXPECT_LE(r.sweeps[k].line, lines);
    }
  });
}

}  // namespace
}  // namespace scrtool
