#pragma once
// The run's checkpoint (BLOCKEIG_CHECKPOINT, --checkpoint FILE): at the end
// of a sweep, once BLOCKEIG_CHECKPOINT_SECONDS have passed since the last
// one, the state of the block phase replaces the file (records/checkpoint_file.hpp
// has its layout). A run that finds the file at start-up resumes from it:
// the direct phase and the prompt run as always, then the console lines of
// the saved sweeps are written again and the sweeps go on from there, so that
// the whole output is the one of a run never stopped. A file that does not
// fit the run ends it with a report and is left as it is; a finished run
// removes it.
//
// Every check is made as soon as the run knows what to check: the file
// itself and the settings at start-up, the matrix once A.SCR is read, the
// block count once it is read.
#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "io/unit.hpp"
#include "records/checkpoint_file.hpp"
#include "records/results_file.hpp"
#include "records/run_record.hpp"
#include "records/text_store.hpp"
#include "runtime/replace_file.hpp"

namespace blockeig {

class Checkpoint {
 public:
  // Start-up: checks that `path` (links followed) may be replaced (a regular
  // file or none), a file found there whole and against the settings, and
  // that its directory takes a new file. Anything amiss ends the run with a
  // report (exit status 2) before any work.
  Checkpoint(std::string path, int interval_seconds, bool with_results);
  Checkpoint(const Checkpoint&) = delete;
  Checkpoint& operator=(const Checkpoint&) = delete;
  ~Checkpoint();

  // A.SCR has been read: a resumed run's matrix must be the checkpoint's.
  void check_input(std::int32_t N, const std::array<std::uint8_t, 32>& matrix_sha256);
  // The block count has been read: a resumed run's must be the checkpoint's.
  void check_block_count(std::int32_t NBLOCKS);
  // Before the first sweep: from here on the console lines are kept for the
  // checkpoint. A resumed run writes the saved lines again and takes ITER,
  // IERR, C, E and EPREV from the file, and returns true.
  bool resume(const SweepStart& start);
  // The results file's state that a resumed run took from the file (empty
  // when there is none).
  const TextStore& saved_results_state() const { return saved_results_state_; }
  // Whether a checkpoint is due at the end of this sweep.
  bool due() const;
  // The sweep the file holds (0: none of this run's).
  std::int32_t sweep_on_disk() const { return on_disk_; }
  // Replaces the file with the state at the end of `sweep` (and the results
  // file's, when there is one). A failure is warned about (once while it
  // lasts) and the run goes on.
  void write(const SweepEnd& sweep, const ResultsFile* results);
  // The run has finished: the checkpoint is removed (the file its name
  // leads to, when the name is a symbolic link).
  void finish();
  // Ends the run with the report of a checkpoint that cannot be used:
  // `problem` ends the sentence that begins with the file's name.
  [[noreturn]] void refuse(std::string_view problem) const;

 private:
  void check_content() const;
  void write_saved_lines() const;
  // Writes the checkpoint: 0 or errno.
  int replace(const SweepEnd& sweep, const ResultsFile* results);

  // The console lines, as they are written, go to output_.
  struct LineCopy final : io::RecordCopy {
    TextStore* store = nullptr;
    void copy(std::string_view text) noexcept override { store->append(text); }
  };

  runtime::FileReplacement replacement_;
  std::chrono::steady_clock::duration interval_;
  std::chrono::steady_clock::time_point last_;
  int fd_ = -1;                 // the checkpoint found at start-up, until resumed
  CheckpointFields found_;      // its fields
  CheckpointFields current_;    // this run's identity
  TextStore output_;            // the console lines of the sweeps
  LineCopy line_copy_;
  TextStore saved_results_state_;
  std::int32_t on_disk_ = 0;    // the sweep the file holds (0: none)
  bool touched_ = false;        // resumed from the file, or tried to write it
  bool failing_ = false;
};

}  // namespace blockeig
