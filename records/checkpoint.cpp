#include "records/checkpoint.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>

#include "records/message_text.hpp"
#include "records/results_file.hpp"
#include "records/sha256.hpp"
#include "io/statements.hpp"
#include "io/unit_table.hpp"
#include "runtime/error_codes.hpp"
#include "runtime/report.hpp"
#include "runtime/run_constants.hpp"
#include "runtime/settings.hpp"

namespace blockeig {

namespace {

using Clock = std::chrono::steady_clock;

std::string byte_order_of(runtime::Convert convert) {
  return "BLOCKEIG_CONVERT=" + std::string(runtime::convert_name(convert)) + " (" +
         (runtime::reads_big_endian(convert) ? "big" : "little") + "-endian)";
}

// "TOL = 1e-09 and at most 101 sweeps": TOL in its shortest exact form.
std::string rule_of(const run::SweepRule& rule) {
  char TOL[32];
  const std::string_view digits(TOL, static_cast<std::size_t>(std::to_chars(TOL, TOL + sizeof TOL, rule.TOL).ptr - TOL));
  return "TOL = " + std::string(digits) + " and at most " + std::to_string(rule.max_sweeps) + " sweeps";
}

}  // namespace

Checkpoint::Checkpoint(std::string path, int interval_seconds, bool with_results)
    : replacement_(std::move(path)), interval_(std::chrono::seconds(interval_seconds)) {
  current_.convert = runtime::settings().convert;
  current_.rule = runtime::settings().sweep_rule;
  const std::string& name = replacement_.path();
  if (!replacement_.refusal().empty())
    runtime::raise(runtime::bad_option, "Cannot write checkpoint \"" + name + "\": " + replacement_.refusal());
  // O_NONBLOCK: a FIFO under the name is refused below, not waited on.
  do fd_ = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  while (fd_ < 0 && errno == EINTR);
  if (const int error = fd_ < 0 ? errno : 0; error != 0 && error != ENOENT && error != ENOTDIR)  // else none there
    runtime::raise(runtime::os_error, "Cannot read checkpoint \"" + name + "\": " + std::strerror(error));
  if (fd_ >= 0) {
    // What the settings say is checked before the file is read whole.
    const auto fits_settings = [&](const CheckpointFields& found) -> std::string {
      if (runtime::reads_big_endian(found.convert) != runtime::reads_big_endian(current_.convert))
        return "was made with " + byte_order_of(found.convert) + ", this run has " + byte_order_of(current_.convert);
      if (found.rule.TOL != current_.rule.TOL || found.rule.max_sweeps != current_.rule.max_sweeps)
        return "was made with " + rule_of(found.rule) + ", this run has " + rule_of(current_.rule) +
               " (--tol, --max-sweeps)";
      if (found.results_bytes > 0 && !with_results)
        return "holds a results file's document, and this run writes none (BLOCKEIG_RESULTS, --results)";
      if (found.results_bytes == 0 && with_results)
        return "holds no results file's document, and this run writes one (BLOCKEIG_RESULTS, --results)";
      return {};
    };
    if (const std::string problem = check_checkpoint(fd_, found_, fits_settings); !problem.empty()) refuse(problem);
    check_content();
  }
  if (const int error = replacement_.probe(); error != 0)
    runtime::raise(runtime::os_error, "Cannot write checkpoint \"" + name + "\": " + replacement_.error_text(error));
  // Where the console lines (and a saved results state) will be kept, taken
  // now: a refusal stops the run before any work.
  for (TextStore* store : {&output_, &saved_results_state_})
    if (const int error = store->open(); error != 0)
      runtime::raise(runtime::os_error, "Cannot write checkpoint \"" + name + "\": " + std::strerror(error));
  line_copy_.store = &output_;
  replacement_.remove_stale_temporaries();
}

// A checkpoint is input like any other: its parts must agree with each
// other and with the rules of a run before any of it is believed.
void Checkpoint::check_content() const {
  if (const std::string problem = check_checkpoint_content(fd_, found_); !problem.empty()) refuse(problem);
  if (found_.results_bytes == 0) return;
  ResultsStateCheck state(found_.ITER, found_.N);
  if (const std::string problem = read_piecewise(fd_, results_state_offset(found_), found_.results_bytes,
                                                 [&](std::string_view piece) { state.feed(piece); });
      !problem.empty())
    refuse(problem);
  if (!state.finish())
    refuse("is damaged: its results file's document does not fit ITER = " + std::to_string(found_.ITER));
}

Checkpoint::~Checkpoint() {
  if (fd_ >= 0) ::close(fd_);
}

void Checkpoint::refuse(std::string_view problem) const {
  runtime::raise(runtime::bad_value, "Checkpoint \"" + replacement_.path() + "\" " + std::string(problem) +
                                         " (the file is left as it is; remove it to start afresh)");
}

void Checkpoint::check_input(std::int32_t N, const std::array<std::uint8_t, 32>& matrix_sha256) {
  current_.N = N;
  current_.matrix_sha256 = matrix_sha256;
  if (fd_ < 0) return;
  const std::string here(run::matrix_file_name);
  if (found_.N != N)
    refuse("was made from another matrix: N = " + std::to_string(found_.N) + " there, N = " + std::to_string(N) +
           " in " + here);
  if (found_.matrix_sha256 != matrix_sha256)
    refuse("was made from another matrix: its SHA-256 is " + hex_digest(found_.matrix_sha256) + ", " + here +
           "'s is " + hex_digest(matrix_sha256));
}

void Checkpoint::check_block_count(std::int32_t NBLOCKS) {
  current_.NBLOCKS = NBLOCKS;
  if (fd_ >= 0 && found_.NBLOCKS != NBLOCKS)
    refuse("was made with " + std::to_string(found_.NBLOCKS) + " blocks, this run has " + std::to_string(NBLOCKS));
}

bool Checkpoint::resume(const SweepStart& start) {
  last_ = Clock::now();
  const bool resuming = fd_ >= 0;
  if (resuming) {
    const std::string problem = load_checkpoint(fd_, found_, start.C, start.E, output_, saved_results_state_);
    if (!problem.empty()) refuse(problem);
    ::close(fd_);
    fd_ = -1;
    write_saved_lines();
    start.ITER = found_.ITER;
    start.IERR = found_.IERR;
    start.EPREV = found_.EPREV;
    on_disk_ = found_.ITER;
    touched_ = true;
    last_ = Clock::now();
  }
  io::copy_records(io::stdout_unit, &line_copy_);
  return resuming;
}

// The saved console lines go out again a piece at a time, each piece whole
// lines.
void Checkpoint::write_saved_lines() const {
  char piece[1 << 14];
  std::size_t kept = 0;
  for (std::uint64_t offset = 0; offset < output_.size();) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(output_.size() - offset, sizeof piece - kept));
    if (const int error = output_.read(offset, piece + kept, n); error != 0)
      refuse(std::string("cannot be taken up: ") + std::strerror(error));
    offset += n;
    const std::string_view text(piece, kept + n);
    const std::size_t line_end = text.rfind('\n');
    const std::size_t whole = offset == output_.size() || line_end == std::string_view::npos ? text.size() : line_end + 1;
    io::write_lines(io::stdout_unit, text.substr(0, whole));
    kept = text.size() - whole;
    std::memmove(piece, piece + whole, kept);
  }
}

bool Checkpoint::due() const { return Clock::now() - last_ >= interval_; }

int Checkpoint::replace(const SweepEnd& sweep, const ResultsFile* results) {
  if (const int error = output_.commit(); error != 0) return error;
  CheckpointFields fields = current_;
  fields.ITER = sweep.ITER;
  fields.IERR = sweep.IERR;
  fields.EPREV = sweep.EPREV;
  // The results file's state, which the image views while it lives.
  const std::optional<ResultsFile::State> saved =
      results != nullptr ? std::optional(results->save_state()) : std::nullopt;
  if (saved && saved->error() != 0) return saved->error();
  const std::array<runtime::Piece, 3> state = saved ? saved->pieces() : std::array<runtime::Piece, 3>{};
  const CheckpointImage image(fields, sweep.C, sweep.E, output_.text(), std::span(state).first(saved ? 3 : 0));
  return image.error() != 0 ? image.error() : replacement_.replace(image.pieces());
}

void Checkpoint::write(const SweepEnd& sweep, const ResultsFile* results) {
  touched_ = true;
  const int error = replace(sweep, results);
  if (error == 0) {
    last_ = Clock::now();
    on_disk_ = sweep.ITER;
    failing_ = false;
    return;
  }
  if (!failing_) {
    MessageText message;
    message << "Cannot write checkpoint \"" << replacement_.path() << "\" after sweep " << sweep.ITER << ": ";
    // The system's text needs no memory; only the replacement's own
    // failures are put into words.
    if (error > 0)
      message << std::strerror(error);
    else
      message << replacement_.error_text(error);
    if (on_disk_ > 0)
      message << " (the file holds sweep " << on_disk_ << ")";
    else
      message << " (there is no checkpoint yet)";
    runtime::warn(message.view());
  }
  failing_ = true;
}

void Checkpoint::finish() {
  io::copy_records(io::stdout_unit, nullptr);
  if (!touched_) return;  // the path held nothing of this run's
  if (::unlink(replacement_.target().c_str()) != 0 && errno != ENOENT) {
    const int error = errno;
    MessageText message;
    message << "Cannot remove checkpoint \"" << replacement_.path() << "\" at the end of the run: "
            << std::strerror(error);
    runtime::warn(message.view());
  }
}

}  // namespace blockeig
