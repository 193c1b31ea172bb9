#include "runtime/stop_signals.hpp"

#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>

#include "runtime/replace_file.hpp"

namespace blockeig::runtime {

namespace {

// Where a stop stands. Only the handler on the stopping thread leaves
// `idle`; the watchdog turns `deferred` into `kicked`; claim_stop() turns
// `deferred` into `stopping`.
enum Stage : int { idle, deferred, kicked, stopping };
std::atomic<int> stage{idle};
std::atomic<int> stop_signal{0};
std::atomic<std::int64_t> grace_nanoseconds{0};
std::atomic<void (*)(int)> stop_hook{nullptr};

pthread_t stopping_thread;
constexpr int max_caught = 4;
int caught[max_caught];
struct sigaction previous[max_caught];
int caught_count = 0;

sem_t watchdog_wake;
bool watchdog_running = false;
// The watchdog only sleeps and signals: a small stack does.
constexpr std::size_t watchdog_stack = 64 * 1024;

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

extern "C" void on_stop_signal(int signal) {
  const int now = stage.load();
  if (now == deferred || now == stopping) end_by(signal);  // a second signal
  if (!::pthread_equal(::pthread_self(), stopping_thread)) {
    ::pthread_kill(stopping_thread, signal);
    return;
  }
  int expected = now;
  if (now == kicked) {
    if (stage.compare_exchange_strong(expected, stopping)) make_stop(stop_signal.load());
    end_by(signal);
  }
  stop_signal.store(signal);
  if (grace_nanoseconds.load() > 0 && stage.compare_exchange_strong(expected, deferred)) {
    ::sem_post(&watchdog_wake);
    return;
  }
  expected = idle;
  if (stage.compare_exchange_strong(expected, stopping)) make_stop(signal);
  end_by(signal);
}

// Waits for a deferred stop, gives the stopping thread its grace to reach a
// safe point, and has the stop made without it when it has not.
void* watch_deferred_stops(void*) {
  const sigset_t set = caught_set();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  for (;;) {
    while (::sem_wait(&watchdog_wake) != 0) {
    }
    const std::int64_t grace = grace_nanoseconds.load();
    timespec left{static_cast<time_t>(grace / 1'000'000'000), static_cast<long>(grace % 1'000'000'000)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, 0, &left, &left) == EINTR) {
    }
    int expected = deferred;
    if (stage.compare_exchange_strong(expected, kicked)) ::pthread_kill(stopping_thread, stop_signal.load());
  }
  return nullptr;
}

// A small stack first; where the process's thread-local storage does not
// fit in it (a library may hold much), the default one.
bool start_watchdog() {
  if (::sem_init(&watchdog_wake, 0, 0) != 0) return false;
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return false;
  pthread_t thread;
  bool started = ::pthread_attr_setstacksize(&attributes, std::max<std::size_t>(watchdog_stack, PTHREAD_STACK_MIN)) == 0 &&
                 ::pthread_create(&thread, &attributes, watch_deferred_stops, nullptr) == 0;
  ::pthread_attr_destroy(&attributes);
  if (!started) started = ::pthread_create(&thread, nullptr, watch_deferred_stops, nullptr) == 0;
  if (started) ::pthread_detach(thread);
  return started;
}

}  // namespace

void catch_stop_signals(std::span<const int> signals) {
  stopping_thread = ::pthread_self();
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
}

void set_stop_hook(void (*hook)(int signal)) { stop_hook.store(hook); }

void defer_stops(std::chrono::nanoseconds grace) {
  if (grace.count() > 0 && !watchdog_running) watchdog_running = start_watchdog();
  grace_nanoseconds.store(watchdog_running ? grace.count() : 0);
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
