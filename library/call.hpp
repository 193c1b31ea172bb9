#pragma once
// What every call of the library does around its work: checks its
// arguments, turns a refusal of memory into blockeig::Error, computes one
// call at a time on the pool's threads under the arithmetic's own
// floating-point environment.
#include <cfenv>
#include <cstdint>
#include <mutex>
#include <new>
#include <stdexcept>
#include <utility>

#include "blockeig/blockeig.hpp"

namespace blockeig::library {

[[noreturn]] void refuse_memory();

// Held while a matrix file is written (a replacement's temporary file is
// named after the process, so one writer at a time); let go in a child
// forked while another thread held it.
std::mutex& file_writing();

// The order of `a` as the solver takes it. Throws Error (bad_order,
// bad_matrix) for what no call can use.
std::int32_t checked_order(const MatrixRef& a);

inline constexpr bool nothing_passed_on = false;

// Runs body(); a std::bad_alloc or std::length_error (a container refused
// its size) becomes Error with Errc::out_of_memory, unless `passed_on` has
// been set by then: an exception of the caller's own code (an observer's)
// reaches the caller as it was thrown.
template <class Body>
decltype(auto) guarded(Body&& body, const bool& passed_on = nothing_passed_on) {
  try {
    return std::forward<Body>(body)();
  } catch (const std::bad_alloc&) {
    if (passed_on) throw;
    refuse_memory();
  } catch (const std::length_error&) {
    if (passed_on) throw;
    refuse_memory();
  }
}

// One call that computes: from its construction to its destruction it holds
// the library (calls from other threads wait), the floating-point
// environment is the arithmetic's (the caller's comes back at the end), and
// the pool runs `threads` threads (0: one per core). A call constructed
// inside another on the same thread (from an observer) holds nothing more
// and gives the outer call its thread count back at its end.
class Call {
 public:
  explicit Call(int threads);
  ~Call();
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  // Runs f() under the caller's floating-point environment.
  template <class F>
  decltype(auto) as_caller(F&& f) {
    const CallerEnvironment scope(caller_);
    return std::forward<F>(f)();
  }

 private:
  class CallerEnvironment {
   public:
    explicit CallerEnvironment(const std::fenv_t& caller) { std::fesetenv(&caller); }
    ~CallerEnvironment() { std::fesetenv(FE_DFL_ENV); }
    CallerEnvironment(const CallerEnvironment&) = delete;
    CallerEnvironment& operator=(const CallerEnvironment&) = delete;
  };

  std::unique_lock<std::mutex> lock_;
  int outer_threads_ = 0;  // the enclosing call's thread count; 0 for the outermost call
  std::fenv_t caller_{};
};

}  // namespace blockeig::library
