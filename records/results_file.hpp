#pragma once
// The opt-in results file: one JSON document holding every number of a run
// at full precision (its layout is in docs/results.md). The document grows
// with the run and replaces the file, atomically, after the direct phase,
// after every sweep and at the end; a failing run's report adds its last
// form.
//
// The text is kept in anonymous memory files (records/text_store.hpp) and
// grows only by parts that are complete, so the document can be written
// from a report (perhaps in a signal handler) without allocating, and it
// takes none of the memory the computation needs. Memory refused to the
// document itself costs the document, never the run: the writes that
// follow fail with that error, as a full disk makes them fail.
#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "records/json_syntax.hpp"
#include "records/line_gatherer.hpp"
#include "records/text_store.hpp"
#include "runtime/replace_file.hpp"
#include "runtime/run_constants.hpp"

namespace blockeig {

class ResultsFile {
 public:
  // Nothing is written until write().
  explicit ResultsFile(std::string path);

  // The parts of the document, in the order of the run.
  void begin(std::string_view version, int threads, std::string_view byte_order);
  void input(std::string_view path, std::int32_t N, std::int64_t file_bytes, std::string_view matrix_sha256,
             double seconds);
  void direct(std::int32_t IERR, std::span<const double> E, double seconds);
  void layout(std::int32_t NBLOCKS, const run::SweepRule& rule, std::span<const std::int32_t> BDIM,
              std::span<const std::int32_t> BSTART);
  void block(std::int32_t IB, std::span<const double> W);
  void sweep(std::int32_t ITER, std::span<const double> E, double DELTA, double seconds);
  void end(std::int32_t ITER, double DELTA, double TOL, std::span<const double> E, double block_seconds);
  // Time spent on the results file itself, reported at the end.
  void add_writing_time(double seconds) { writing_seconds_ += seconds; }

  // Why the file cannot be written at all ("it is a directory", ...), or
  // empty: runtime::FileReplacement::refusal().
  const std::string& refusal() const { return replacement_.refusal(); }
  // Replaces the file with the document as it stands. Returns 0 or the
  // failure (among them the error that cost the document a part), which
  // error_text() puts in words.
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
  std::string_view progress() const;
  const std::string& path() const { return replacement_.path(); }

  // The writer's whole state at the end of a sweep, for a checkpoint: the
  // pieces of its bytes, while the object lives and the writer goes no
  // further.
  class State {
   public:
    // 0, or the errno that keeps the state from being saved.
    int error() const { return error_; }
    std::array<runtime::Piece, 3> pieces() const {
      return {runtime::Piece(std::string_view(line_, line_length_)), eigenvalues_, body_};
    }

   private:
    friend class ResultsFile;
    char line_[160];
    std::size_t line_length_ = 0;
    runtime::Piece eigenvalues_, body_;
    int error_ = 0;
  };
  State save_state() const;
  // Takes up a state saved by the same program version at the end of a
  // sweep (the text of `state`) and continues that document; returns false
  // (and changes nothing) for anything else.
  bool restore_state(const TextStore& state);

 private:
  enum class Stage : std::int32_t { begun, input, direct, laid_out, ended };
  // Calls visit(lambda) for every direct eigenvalue, in order, reading them
  // back a piece at a time; a failed read costs the document.
  template <typename Visit>
  void for_each_direct_eigenvalue(Visit&& visit);
  // Makes the part appended to `store` count, unless a part was lost
  // before; a part that cannot be kept costs the document.
  void settle(TextStore& store);
  // The last document of a run that ends early: the document as it stands
  // with `state`, the sweep in progress and `section`.
  void write_last(std::string_view state, std::string_view section) noexcept;

  runtime::FileReplacement replacement_;
  std::atomic<Stage> stage_{Stage::begun};  // read by write_failure
  std::int32_t sweeps_ = 0;
  std::int32_t max_sweeps_ = run::max_sweeps;
  double writing_seconds_ = 0;
  // The errno of the first part of the document that could not be kept.
  std::atomic<int> lost_{0};
  // The document up to its last complete part; the sweep in progress; the
  // end section; the direct eigenvalues as doubles, for pairing with the
  // final E.
  TextStore body_;
  TextStore sweep_;
  TextStore end_;
  TextStore direct_eigenvalues_;
  mutable char progress_[32] = {};
};

// Whether a results file's state, as a checkpoint keeps it and read a piece
// at a time, is one that this program saved at the end of sweep ITER of an
// order-N run: its first line, the N direct eigenvalues, and a document
// that the end of a running one closes into one JSON text with ITER sweeps.
class ResultsStateCheck {
 public:
  ResultsStateCheck(std::int32_t ITER, std::int32_t N);
  void feed(std::string_view bytes);
  bool finish();

  // The most bytes that such a state of a run in NBLOCKS blocks holds (its
  // first line, the direct eigenvalues and a document of ITER sweeps), with
  // room to spare: a larger one cannot be this program's.
  static std::uint64_t most_bytes(std::int32_t ITER, std::int32_t N, std::int32_t NBLOCKS);

 private:
  std::int32_t ITER_, N_;
  using Line = LineGatherer<160>;
  Line line_;
  bool line_done_ = false;
  bool broken_ = false;
  std::uint64_t eigenvalue_bytes_ = 0;
  std::uint64_t body_bytes_ = 0;
  JsonSyntax body_{"sweeps"};
};

}  // namespace blockeig
