#include "runtime/stop_signals.hpp"

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "runtime/replace_file.hpp"

namespace blockeig::runtime {

namespace {

// Where a stop stands. Only the handler on the stopping thread leaves
// `idle`; the watchdog or claim_stop() turns `deferred` into `stopping`.
enum Stage : int { idle, deferred, stopping };
std::atomic<int> stage{idle};
std::atomic<int> stop_signal{0};
// When the stopping thread took the stop's first signal (CLOCK_MONOTONIC).
std::atomic<std::int64_t> first_signal_nanoseconds{0};
// A second signal of the same kind this soon after the first is the same
// stop sent twice, not a user's second Ctrl-C: `timeout` signals its child
// and then the child's process group, a supervisor forwards what the group
// also got.
constexpr std::int64_t same_stop_nanoseconds = 100'000'000;
std::atomic<std::int64_t> grace_nanoseconds{0};
std::atomic<void (*)(int)> stop_hook{nullptr};

pthread_t stopping_thread;
pid_t stopping_thread_id = 0;
constexpr int max_caught = 4;
int caught[max_caught];
struct sigaction previous[max_caught];
int caught_count = 0;

// The watchdog is a timer of the kernel's that signals the stopping thread
// when a deferred stop's grace is over. A thread would do as well, but its
// stack would take address space that the run's arrays may need.
timer_t watchdog;
bool watchdog_ready = false;
int watchdog_signal() { return SIGRTMIN; }
// The name glibc's headers give the thread of a SIGEV_THREAD_ID event only
// from version 2.35 on.
#ifndef sigev_notify_thread_id
#define sigev_notify_thread_id _sigev_un._tid
#endif

sigset_t caught_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int k = 0; k < caught_count; ++k) sigaddset(&set, caught[k]);
  return set;
}

// The default action of `signal` ends the process; whatever a replacement
// in progress had made is removed first.
[[noreturn]] void end_by(int signal) noexcept {
  remove_live_temporaries();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);  // not reached: the default action of these signals ends the process
}

[[noreturn]] void make_stop(int signal) noexcept {
  // From here on a second signal ends the process at once, also while this
  // runs inside the handler of the first.
  const sigset_t set = caught_set();
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  remove_live_temporaries();
  if (void (*hook)(int) = stop_hook.load()) hook(signal);
  end_by(signal);
}

std::int64_t monotonic_nanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Whether a signal that comes while a stop waits or is being made is the
// stop's own signal sent once more, within same_stop_nanoseconds of the
// first.
bool same_stop(int signal) {
  return signal == stop_signal.load() &&
         monotonic_nanoseconds() - first_signal_nanoseconds.load() < same_stop_nanoseconds;
}

extern "C" void on_stop_signal(int signal) {
  const int now = stage.load();
  if (now == deferred || now == stopping) {  // a second signal
    if (same_stop(signal)) return;
    end_by(signal);
  }
  if (!::pthread_equal(::pthread_self(), stopping_thread)) {
    ::pthread_kill(stopping_thread, signal);
    return;
  }
  first_signal_nanoseconds.store(monotonic_nanoseconds());
  stop_signal.store(signal);
  const std::int64_t grace = grace_nanoseconds.load();
  int expected = idle;
  if (grace > 0 && stage.compare_exchange_strong(expected, deferred)) {
    itimerspec once{};
    once.it_value = {static_cast<time_t>(grace / 1'000'000'000), static_cast<long>(grace % 1'000'000'000)};
    ::timer_settime(watchdog, 0, &once, nullptr);
    return;
  }
  expected = idle;
  if (stage.compare_exchange_strong(expected, stopping)) make_stop(signal);
  end_by(signal);
}

// The grace of a deferred stop is over and no safe point has come: the stop
// is made here, on the stopping thread, without it.
extern "C" void on_watchdog(int) {
  int expected = deferred;
  if (stage.compare_exchange_strong(expected, stopping)) make_stop(stop_signal.load());
}

// A one-shot timer that signals this thread, the stopping one.
bool start_watchdog() {
  struct sigaction action {};
  action.sa_handler = on_watchdog;
  action.sa_flags = SA_RESTART;
  action.sa_mask = caught_set();
  if (::sigaction(watchdog_signal(), &action, nullptr) != 0) return false;
  sigevent event{};
  event.sigev_notify = SIGEV_THREAD_ID;
  event.sigev_signo = watchdog_signal();
  event.sigev_notify_thread_id = stopping_thread_id;
  return ::timer_create(CLOCK_MONOTONIC, &event, &watchdog) == 0;
}

}  // namespace

void catch_stop_signals(std::span<const int> signals) {
  stopping_thread = ::pthread_self();
  stopping_thread_id = ::gettid();
  caught_count = 0;
  for (const int signal : signals) {
    struct sigaction found {};
    if (caught_count == max_caught || ::sigaction(signal, nullptr, &found) != 0 || found.sa_handler == SIG_IGN) continue;
    previous[caught_count] = found;
    caught[caught_count++] = signal;
  }
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  action.sa_flags = SA_RESTART;
  action.sa_mask = caught_set();
  for (int k = 0; k < caught_count; ++k) ::sigaction(caught[k], &action, nullptr);
}

void release_stop_signals() {
  for (int k = 0; k < caught_count; ++k) ::sigaction(caught[k], &previous[k], nullptr);
  caught_count = 0;
  if (watchdog_ready) {
    ::timer_delete(watchdog);
    watchdog_ready = false;
    grace_nanoseconds.store(0);
  }
}

void set_stop_hook(void (*hook)(int signal)) { stop_hook.store(hook); }

void defer_stops(std::chrono::nanoseconds grace) {
  if (grace.count() > 0 && !watchdog_ready) watchdog_ready = start_watchdog();
  grace_nanoseconds.store(watchdog_ready ? grace.count() : 0);
}

int claim_stop() {
  int expected = deferred;
  return stage.compare_exchange_strong(expected, stopping) ? stop_signal.load() : 0;
}

void stop(int signal) noexcept { make_stop(signal); }

std::string_view signal_name(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGPIPE: return "SIGPIPE";
  }
  return "a signal";
}

}  // namespace blockeig::runtime
