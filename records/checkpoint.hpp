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

#include "records/checkpoint_file.hpp"
#include "records/run_record.hpp"
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
  // IERR, C, E and EPREV from the file; it returns true and the results
  // file's saved state (empty when there is none).
  bool resume(const SweepStart& start, std::string& results_state);
  // Whether a checkpoint is due at the end of this sweep.
  bool due() const;
  // The sweep the file holds (0: none of this run's).
  std::int32_t sweep_on_disk() const { return on_disk_; }
  // Replaces the file with the state at the end of `sweep`. A failure is
  // warned about (once while it lasts) and the run goes on.
  void write(const SweepEnd& sweep, std::string_view results_state);
  // The run has finished: the checkpoint is removed (the file its name
  // leads to, when the name is a symbolic link).
  void finish();
  // Ends the run with the report of a checkpoint that cannot be used:
  // `problem` ends the sentence that begins with the file's name.
  [[noreturn]] void refuse(std::string_view problem) const;

 private:

  runtime::FileReplacement replacement_;
  std::chrono::steady_clock::duration interval_;
  std::chrono::steady_clock::time_point last_;
  int fd_ = -1;                 // the checkpoint found at start-up, until resumed
  CheckpointFields found_;      // its fields
  CheckpointFields current_;    // this run's identity
  std::string output_;          // the console lines of the sweeps
  std::int32_t on_disk_ = 0;    // the sweep the file holds (0: none)
  bool touched_ = false;        // resumed from the file, or tried to write it
  bool failing_ = false;
};

}  // namespace blockeig
