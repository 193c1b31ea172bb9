#include "records/checkpoint.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace

Checkpoint::Checkpoint(std::string path, int interval_seconds, bool with_results)
    : replacement_(std::move(path)), interval_(std::chrono::seconds(interval_seconds)) {
  current_.convert = runtime::settings().convert;
  const std::string& name = replacement_.path();
  if (!replacement_.refusal().empty())
    runtime::raise(runtime::bad_option, "Cannot write checkpoint \"" + name + "\": " + replacement_.refusal());
  // O_NONBLOCK: a FIFO under the name is refused below, not waited on.
  do fd_ = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  while (fd_ < 0 && errno == EINTR);
  if (const int error = fd_ < 0 ? errno : 0; error != 0 && error != ENOENT && error != ENOTDIR)  // else none there
    runtime::raise(runtime::os_error, "Cannot read checkpoint \"" + name + "\": " + std::strerror(error));
  if (fd_ >= 0) {
    if (const std::string problem = check_checkpoint(fd_, found_); !problem.empty()) refuse(problem);
    if (runtime::reads_big_endian(found_.convert) != runtime::reads_big_endian(current_.convert))
      refuse("was made with " + byte_order_of(found_.convert) + ", this run has " + byte_order_of(current_.convert));
    if (found_.results_bytes > 0 && !with_results)
      refuse("holds a results file's document, and this run writes none (BLOCKEIG_RESULTS, --results)");
    if (found_.results_bytes == 0 && with_results)
      refuse("holds no results file's document, and this run writes one (BLOCKEIG_RESULTS, --results)");
  }
  if (const int error = replacement_.probe(); error != 0)
    runtime::raise(runtime::os_error, "Cannot write checkpoint \"" + name + "\": " + replacement_.error_text(error));
  replacement_.remove_stale_temporaries();
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

bool Checkpoint::resume(const SweepStart& start, std::string& results_state) {
  last_ = Clock::now();
  const bool resuming = fd_ >= 0;
  if (resuming) {
    const std::string problem = load_checkpoint(fd_, found_, start.C, start.E, output_, results_state);
    if (!problem.empty()) refuse(problem);
    ::close(fd_);
    fd_ = -1;
    io::write_lines(io::stdout_unit, output_);
    start.ITER = found_.ITER;
    start.IERR = found_.IERR;
    start.EPREV = found_.EPREV;
    on_disk_ = found_.ITER;
    touched_ = true;
    last_ = Clock::now();
  }
  io::copy_records(io::stdout_unit, &output_);
  return resuming;
}

bool Checkpoint::due() const { return Clock::now() - last_ >= interval_; }

void Checkpoint::write(const SweepEnd& sweep, std::string_view results_state) {
  CheckpointFields fields = current_;
  fields.ITER = sweep.ITER;
  fields.IERR = sweep.IERR;
  fields.EPREV = sweep.EPREV;
  const CheckpointImage image(fields, sweep.C, sweep.E, output_, results_state);
  touched_ = true;
  const int error = replacement_.replace(image.pieces());
  if (error == 0) {
    last_ = Clock::now();
    on_disk_ = sweep.ITER;
    failing_ = false;
    return;
  }
  if (!failing_)
    runtime::warn("Cannot write checkpoint \"" + replacement_.path() + "\" after sweep " +
                  std::to_string(sweep.ITER) + ": " + replacement_.error_text(error) +
                  (on_disk_ > 0 ? " (the file holds sweep " + std::to_string(on_disk_) + ")"
                                : std::string(" (there is no checkpoint yet)")));
  failing_ = true;
}

void Checkpoint::finish() {
  io::copy_records(io::stdout_unit, nullptr);
  if (!touched_) return;  // the path held nothing of this run's
  if (::unlink(replacement_.target().c_str()) != 0 && errno != ENOENT) {
    const int error = errno;
    runtime::warn("Cannot remove checkpoint \"" + replacement_.path() + "\" at the end of the run: " +
                  std::strerror(error));
  }
}

}  // namespace blockeig
