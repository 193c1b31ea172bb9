// The results writer in-process: its state saved at the end of a sweep and
// restored into a fresh writer (as a resumed run does) continues the very
// same document; a state that does not fit is refused.
#include "records/results_file.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/pieces.hpp"

namespace blockeig::testing {
namespace {

const std::vector<double> direct = {-1.5, -0.0, 0.25, 1e300};
const std::vector<std::int32_t> BDIM = {2, 2}, BSTART = {1, 3};

// A writer through the block table, as every run (and every resumed run)
// starts.
void start(ResultsFile& file) {
  file.begin("9.9", 2, "native");
  file.input("/data/A.SCR", 4, 148, "ab", 0.5);
  file.direct(0, direct, 0.25);
  file.layout(2, {}, BDIM, BSTART);
}

void sweep(ResultsFile& file, int ITER) {
  const std::vector<double> W1 = {ITER * 1.0, ITER + 0.5}, W2 = {-ITER * 1.0, 7.0};
  file.block(1, W1);
  file.block(2, W2);
  const std::vector<double> E = {-ITER * 1.0, ITER * 1.0, ITER + 0.5, 7.0};
  file.sweep(ITER, E, 1.0 / ITER, 0.125);
}

// A state as a checkpoint keeps it, and as a resumed run finds it.
std::string saved_state(const ResultsFile& file) {
  const ResultsFile::State saved = file.save_state();
  std::string state;
  for (const runtime::Piece& piece : saved.pieces()) state += bytes_of(piece);
  return state;
}

bool restore(ResultsFile& file, const std::string& state) {
  TextStore store;
  EXPECT_EQ(store.open(), 0);
  store.append(state);
  EXPECT_EQ(store.commit(), 0);
  return file.restore_state(store);
}

void finish(ResultsFile& file) {
  const std::vector<double> E = {-3.0, 3.0, 3.5, 7.0};
  file.end(3, 1.0 / 3, 1e-6, E, 1.5);
  ASSERT_EQ(file.write(), 0);
}

TEST(ResultsFile, RestoredStateContinuesTheSameDocument) {
  TempDir dir;
  ResultsFile whole((dir / "whole.json").string());
  start(whole);
  for (int ITER = 1; ITER <= 3; ++ITER) sweep(whole, ITER);
  finish(whole);

  ResultsFile first((dir / "resumed.json").string());
  start(first);
  sweep(first, 1);
  sweep(first, 2);
  const std::string state = saved_state(first);

  ResultsFile resumed((dir / "resumed.json").string());
  EXPECT_FALSE(restore(resumed, state));  // not yet at the block table
  start(resumed);
  ASSERT_TRUE(restore(resumed, state));
  EXPECT_EQ(resumed.progress(), "sweep 2");
  sweep(resumed, 3);
  finish(resumed);
  EXPECT_EQ(read_file(dir / "resumed.json"), read_file(dir / "whole.json"));
}

TEST(ResultsFile, StateThatDoesNotFitIsRefused) {
  TempDir dir;
  ResultsFile saved((dir / "a.json").string());
  start(saved);
  sweep(saved, 1);
  const std::string state = saved_state(saved);
  const std::size_t line_end = state.find('\n');
  std::string other_format = state;
  other_format.replace(other_format.find(" 1 "), 3, " 2 ");
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"cut in its first line", state.substr(0, line_end)},
      {"cut in the eigenvalues", state.substr(0, line_end + 9)},
      {"one byte short", state.substr(0, state.size() - 1)},
      {"one byte more", state + "x"},
      {"another format", other_format},
      {"another magic", "X" + state.substr(1)},
  };
  for (const auto& [name, text] : cases) {
    SCOPED_TRACE(name);
    ResultsFile file((dir / "b.json").string());
    start(file);
    EXPECT_FALSE(restore(file, text));
    EXPECT_EQ(file.progress(), "the block table");
  }
  // Another order: the saved direct eigenvalues do not fit.
  ResultsFile larger((dir / "c.json").string());
  larger.begin("9.9", 2, "native");
  larger.input("/data/A.SCR", 5, 220, "ab", 0.5);
  larger.direct(0, std::vector<double>(5, 1.0), 0.25);
  larger.layout(2, {}, BDIM, BSTART);
  EXPECT_FALSE(restore(larger, state));
}

}  // namespace
}  // namespace blockeig::testing
