#include "records/run_record.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "records/checkpoint.hpp"
#include "records/message_text.hpp"
#include "records/results_file.hpp"
#include "records/sha256.hpp"
#include "runtime/error_codes.hpp"
#include "runtime/posix_file.hpp"
#include "runtime/report.hpp"
#include "runtime/run_constants.hpp"
#include "runtime/settings.hpp"
#include "runtime/stop_signals.hpp"

namespace blockeig {

namespace {

using Clock = std::chrono::steady_clock;

// The checkpoint of this run, if one was asked for.
Checkpoint* checkpoint = nullptr;
// The results file of this run, if one was asked for. Process-wide because
// a report, which may come from a signal handler, writes its last document.
ResultsFile* results = nullptr;
// What the file on disk holds, for the warning of a failed write.
char results_on_disk[32];
std::size_t results_on_disk_length = 0;
bool results_failing = false;
// The end of the last recorded step, and the start of the block phase.
Clock::time_point mark;
Clock::time_point block_phase_start;
// The end of the last sweep (or the start of the sweeps), and how long the
// last sweep took: how long a stop may wait for the sweep in progress.
Clock::time_point sweep_mark;
Clock::duration sweep_time{};

// The signals that stop a run: its records are left whole (below).
constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};

double seconds_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// Time spent on the results file itself, which the document reports.
class WritingTime {
 public:
  ~WritingTime() { results->add_writing_time(seconds_between(start_, Clock::now())); }

 private:
  Clock::time_point start_ = Clock::now();
};

// Replaces the results file. A failure is warned about when it begins (the
// first failed write after a good one) and always at the end of the run,
// whose document matters most; the run goes on, and its exit status will
// be 2.
void write_results(std::string_view when, std::int32_t sweep = 0, bool always_warn = false) {
  const int error = results->write();
  if (error == 0) {
    results_failing = false;
    results_on_disk_length = results->progress().copy(results_on_disk, sizeof results_on_disk);
    return;
  }
  if (!results_failing || always_warn) {
    MessageText message;
    message << "Cannot write results file \"" << results->path() << "\" " << when;
    if (sweep > 0) message << sweep;
    message << ": ";
    // The system's text needs no memory; only the replacement's own
    // failures are put into words.
    if (error > 0)
      message << std::strerror(error);
    else
      message << results->error_text(error);
    message << " (the file holds the run as of "
            << std::string_view(results_on_disk, results_on_disk_length) << ")";
    runtime::warn(message.view());
  }
  results_failing = true;
}

void keep_report(std::string_view report, int exit_status) { results->write_failure(report, exit_status); }

// A stop on a signal ends the run without a report; the results file
// receives its last document. Safe in a signal handler.
void keep_stop(int signal) {
  runtime::run_before_report_hook();
  if (results != nullptr) results->write_stopped(runtime::signal_name(signal));
}

// How long a stop waits for the sweep in progress to end: twice the last
// sweep, and a second at least.
std::chrono::nanoseconds stop_grace() {
  return std::max<Clock::duration>(2 * sweep_time, std::chrono::seconds(1));
}

// The absolute name of A.SCR, in `path` (the relative one when the working
// directory has no name).
std::string_view matrix_file_path(char (&path)[4096 + 8]) {
  const std::string_view name = run::matrix_file_name;
  if (::getcwd(path, 4096) == nullptr) return name;
  std::size_t length = std::strlen(path);
  if (length > 1) path[length++] = '/';
  return {path, length + name.copy(path + length, name.size())};
}

std::int64_t matrix_file_bytes() {
  struct stat info {};
  return ::stat(std::string(run::matrix_file_name).c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

// The matrix as the run holds it, each double as its 8 bytes little-endian:
// for a little-endian A.SCR, exactly the bytes of its matrix record.
std::array<std::uint8_t, 32> matrix_digest(std::span<const double> A) {
  static_assert(std::endian::native == std::endian::little);
  Sha256 digest;
  digest.update({reinterpret_cast<const std::uint8_t*>(A.data()), A.size_bytes()});
  return digest.finish();
}

// A record replaces the directory entry its name leads to: A.SCR or
// C.SCR.TXT of the working directory would be the run's own input or output
// replaced. Returns that name, or null.
const char* own_file_named(const std::string& path) {
  for (const std::string_view own : {run::matrix_file_name, run::eigenvalue_file_name})
    if (runtime::same_entry(path, std::string(own))) return own.data();
  return nullptr;
}

// A record replaces the file standard output or standard error goes to when
// its name leads there (the file itself, /dev/stdout): the transcript or the
// report would be lost. Returns that stream's name, or null. A pipe or a
// terminal is no such file (and is refused as not a regular one).
const char* standard_stream_named(const std::string& path) {
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) return nullptr;
  for (const auto& [fd, stream] : {std::pair{STDOUT_FILENO, "standard output"}, {STDERR_FILENO, "standard error"}}) {
    struct stat open {};
    if (::fstat(fd, &open) == 0 && open.st_dev == named.st_dev && open.st_ino == named.st_ino) return stream;
  }
  return nullptr;
}

// Refuses a record's name that leads to the run's own files or streams.
void refuse_own_files(const std::string& path, const std::string& record) {
  if (const char* own = own_file_named(path))
    runtime::raise(runtime::bad_option, "Cannot write " + record + " \"" + path + "\": it would replace the run's own " + own);
  if (const char* stream = standard_stream_named(path))
    runtime::raise(runtime::bad_option,
                   "Cannot write " + record + " \"" + path + "\": it is the file " + stream + " goes to");
}

void start_checkpoint() {
  const runtime::Settings& settings = runtime::settings();
  const std::string& path = settings.checkpoint;
  refuse_own_files(path, "checkpoint");
  if (!settings.results.empty() && runtime::same_entry(path, settings.results))
    runtime::raise(runtime::bad_option, "Cannot write checkpoint \"" + path + "\": it is the results file too");
  static Checkpoint file(path, settings.checkpoint_seconds, !settings.results.empty());
  checkpoint = &file;
}

void start_results() {
  const std::string& path = runtime::settings().results;
  refuse_own_files(path, "results file");
  static ResultsFile file(path);
  if (!file.refusal().empty())
    runtime::raise(runtime::bad_option, "Cannot write results file \"" + path + "\": " + file.refusal());
  file.remove_stale_temporaries();
  file.begin(BLOCKEIG_VERSION, runtime::settings().threads, runtime::convert_name(runtime::settings().convert));
  if (const int error = file.write(); error != 0)
    runtime::raise(runtime::os_error, "Cannot write results file \"" + path + "\": " + file.error_text(error));
  results = &file;
  results_on_disk_length = file.progress().copy(results_on_disk, sizeof results_on_disk);
  runtime::set_after_report(keep_report);
  mark = Clock::now();
}

}  // namespace

void start_run_record() {
  const runtime::Settings& settings = runtime::settings();
  if (settings.checkpoint.empty() && settings.results.empty()) return;
  runtime::set_stop_hook(keep_stop);
  runtime::catch_stop_signals(stop_signals);
  if (!settings.checkpoint.empty()) start_checkpoint();
  if (!settings.results.empty()) start_results();
}

void record_input(std::int32_t N, std::span<const double> A) {
  if (results == nullptr && checkpoint == nullptr) return;
  const double seconds = seconds_between(mark, Clock::now());
  const Clock::time_point start = Clock::now();
  const std::array<std::uint8_t, 32> digest = matrix_digest(A);
  if (checkpoint != nullptr) checkpoint->check_input(N, digest);
  if (results == nullptr) return;
  char path[4096 + 8];
  const std::array<char, 64> digits = hex_digits(digest);
  results->input(matrix_file_path(path), N, matrix_file_bytes(), {digits.data(), digits.size()}, seconds);
  results->add_writing_time(seconds_between(start, Clock::now()));
  mark = Clock::now();
}

void record_direct(std::int32_t IERR, std::span<const double> E) {
  if (results == nullptr) return;
  const double seconds = seconds_between(mark, Clock::now());
  WritingTime timer;
  results->direct(IERR, E, seconds);
}

void record_direct_phase_end() {
  if (results == nullptr) return;
  WritingTime timer;
  write_results("after the direct phase");
}

void record_block_count(std::int32_t NBLOCKS) {
  if (checkpoint != nullptr) checkpoint->check_block_count(NBLOCKS);
}

void record_layout(std::int32_t NBLOCKS, std::span<const std::int32_t> BDIM, std::span<const std::int32_t> BSTART) {
  if (results == nullptr) return;
  {
    WritingTime timer;
    results->layout(NBLOCKS, runtime::settings().sweep_rule, BDIM, BSTART);
  }
  block_phase_start = mark = Clock::now();
}

void record_block(std::int32_t IB, std::span<const double> W) {
  if (results == nullptr) return;
  WritingTime timer;
  results->block(IB, W);
}

void begin_sweeps(const SweepStart& start) {
  sweep_mark = Clock::now();
  if (checkpoint == nullptr) return;
  if (!checkpoint->resume(start) || results == nullptr) return;
  if (!results->restore_state(checkpoint->saved_results_state()))
    checkpoint->refuse("holds a results file's document that this blockeig cannot continue");
  write_results("after sweep ", start.ITER);
  mark = Clock::now();
}

void record_sweep(const SweepEnd& sweep) {
  const Clock::time_point now = Clock::now();
  sweep_time = now - sweep_mark;
  sweep_mark = now;
  // This sweep is on no disk yet: a stop waits for the checkpoint below.
  if (checkpoint != nullptr) runtime::defer_stops(stop_grace());
  if (results != nullptr) {
    const double seconds = seconds_between(mark, Clock::now());
    {
      WritingTime timer;
      results->sweep(sweep.ITER, {sweep.E, static_cast<std::size_t>(sweep.N)}, sweep.DELTA, seconds);
      write_results("after sweep ", sweep.ITER);
    }
    mark = Clock::now();
  }
  // The last sweep needs no checkpoint: the run ends and removes it.
  const bool another = sweep.rule.another_sweep_follows(sweep.DELTA, sweep.ITER);
  if (checkpoint != nullptr && another && checkpoint->due()) checkpoint->write(sweep, results);
  if (checkpoint == nullptr || !another) return;  // after the last sweep, a stop waits for the end of the run
  // A stop asked for during the sweep: the checkpoint first, so that the
  // run loses no finished sweep.
  if (const int signal = runtime::claim_stop()) {
    if (checkpoint->sweep_on_disk() < sweep.ITER) checkpoint->write(sweep, results);
    runtime::stop(signal);
  }
  // Until the next sweep ends, a stop waits only if this one is on no disk.
  runtime::defer_stops(checkpoint->sweep_on_disk() < sweep.ITER ? stop_grace() : std::chrono::nanoseconds(0));
}

void record_block_phase_end(const SweepEnd& sweep) {
  if (results != nullptr) {
    const double seconds = seconds_between(block_phase_start, Clock::now());
    results->end(sweep.ITER, sweep.DELTA, sweep.rule.TOL, {sweep.E, static_cast<std::size_t>(sweep.N)}, seconds);
    write_results("at the end of the run", 0, true);
  }
  if (checkpoint != nullptr) checkpoint->finish();
  // A stop asked for after the last sweep waited for the records of the
  // finished run; the run ends by its signal all the same.
  if (const int signal = runtime::claim_stop()) {
    runtime::set_stop_hook(nullptr);
    runtime::stop(signal);
  }
  runtime::release_stop_signals();
}

}  // namespace blockeig
