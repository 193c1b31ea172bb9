// Every reader, fed thousands of damaged variants of a good file, either
// returns a matrix blockeig can read or throws ToolError: never another
// exception, never a crash (the sanitizer build watches memory as well).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>

#include "tools/matrix_market.hpp"
#include "tools/npy_file.hpp"
#include "tools/scr_file.hpp"
#include "tools/scr_inspect.hpp"
#include "tools/text_matrix.hpp"
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

std::string collect(const std::function<void(const ByteSink&)>& emit) {
  std::string out;
  emit([&out](std::span<const std::uint8_t> piece) { out.append(piece.begin(), piece.end()); });
  return out;
}

void check(const Matrix& m) {
  ASSERT_GE(m.n, min_order);
  ASSERT_LE(m.n, max_order);
  ASSERT_EQ(m.a.size(), static_cast<std::size_t>(m.n) * static_cast<std::size_t>(m.n));
}

TEST(MutatedInput, MatrixMarket) {
  survive(collect([](const ByteSink& s) { emit_matrix_market(sample(), s); }),
          [](const std::string& t) { check(read_matrix_market(t, "m.mtx")); });
  survive("%%MatrixMarket matrix coordinate real symmetric\n3 3 3\n1 1 1.5\n3 1 -2\n3 3 4e-3\n",
          [](const std::string& t) { check(read_matrix_market(t, "m.mtx")); });
}

TEST(MutatedInput, Npy) {
  survive(collect([](const ByteSink& s) { emit_npy(sample(), s); }),
          [](const std::string& t) { check(read_npy(bytes_of(t), "m.npy")); });
}

TEST(MutatedInput, Text) {
  survive("3\n1 2 3\n4 5 6 # c\n7 8 9\n", [](const std::string& t) { check(read_text_matrix(t, "m.txt")); });
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
        if (in.as_is.accepted) check(read_scr(source, ByteOrder::little));
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
