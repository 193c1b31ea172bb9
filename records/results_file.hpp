#pragma once
// The opt-in results file: one JSON document holding every number of a run
// at full precision (its layout is in docs/results.md). The document grows
// with the run and replaces the file, atomically, after the direct phase,
// after every sweep and at the end; a failing run's report adds its last
// form.
//
// The text is kept in buffers that are published only when complete, so
// the document can be written from a report (perhaps in a signal handler)
// without allocating: whatever a report interrupts, the published text is
// whole.
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/replace_file.hpp"

namespace blockeig {

// A growing text whose complete part can be read from a signal handler.
class PublishedText {
 public:
  PublishedText() = default;
  PublishedText(const PublishedText&) = delete;
  PublishedText& operator=(const PublishedText&) = delete;
  ~PublishedText();
  void append(std::string_view text);
  void clear();
  // The text as of the last completed append. Safe in a signal handler.
  std::string_view published() const noexcept;

 private:
  void reserve(std::size_t capacity);
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::atomic<const char*> published_data_{nullptr};
  std::atomic<std::size_t> published_size_{0};
};

class ResultsFile {
 public:
  // Nothing is written until write().
  explicit ResultsFile(std::string path);

  // The parts of the document, in the order of the run.
  void begin(std::string_view version, int threads, std::string_view byte_order);
  void input(std::string_view path, std::int32_t N, std::int64_t file_bytes, std::string_view matrix_sha256,
             double seconds);
  void direct(std::int32_t IERR, std::span<const double> E, double seconds);
  void layout(std::int32_t NBLOCKS, std::span<const std::int32_t> BDIM, std::span<const std::int32_t> BSTART);
  void block(std::int32_t IB, std::span<const double> W);
  void sweep(std::int32_t ITER, std::span<const double> E, double DELTA, double seconds);
  void end(std::int32_t ITER, double DELTA, double TOL, std::span<const double> E, double block_seconds);
  // Time spent on the results file itself, reported at the end.
  void add_writing_time(double seconds) { writing_seconds_ += seconds; }

  // Why the file cannot be written at all ("it is a directory", ...), or
  // empty: runtime::FileReplacement::refusal().
  const std::string& refusal() const { return replacement_.refusal(); }
  // Replaces the file with the document as it stands. Returns 0 or the
  // failure, which error_text() puts in words.
  int write();
  std::string error_text(int error) const { return replacement_.error_text(error); }
  // Removes what runs killed while replacing the file left behind.
  void remove_stale_temporaries() const { replacement_.remove_stale_temporaries(); }
  // The document of a run that ends with `report` and `exit_status`, written
  // as well as can be. Allocates nothing; safe in a signal handler.
  void write_failure(std::string_view report, int exit_status) noexcept;
  // The document of a run stopped by the signal named `signal` ("SIGTERM"),
  // written as well as can be. Allocates nothing; safe in a signal handler.
  void write_stopped(std::string_view signal) noexcept;

  // What the document holds so far, for messages: "start-up", "the direct
  // phase", "the block table", "sweep 12", "the end of the run".
  std::string progress() const;
  const std::string& path() const { return replacement_.path(); }

  // The writer's whole state, for a checkpoint taken at the end of a sweep,
  // and back. restore_state() takes a state saved by the same program
  // version at the end of a sweep and continues that document; it returns
  // false (and changes nothing) for anything else.
  std::string save_state() const;
  bool restore_state(std::string_view state);

 private:
  enum class Stage : std::int32_t { begun, input, direct, laid_out, ended };
  std::string_view state_word() const;
  // The last document of a run that ends early: the document as it stands
  // with `state`, the sweep in progress and `section`.
  void write_last(std::string_view state, std::string_view section) noexcept;

  runtime::FileReplacement replacement_;
  std::atomic<Stage> stage_{Stage::begun};  // read by write_failure
  std::int32_t sweeps_ = 0;
  std::vector<double> direct_eigenvalues_;  // for pairing with the final E
  double writing_seconds_ = 0;
  // The document up to its last complete part; the sweep in progress; the
  // end section.
  PublishedText body_;
  PublishedText sweep_;
  PublishedText end_;
};

}  // namespace blockeig
