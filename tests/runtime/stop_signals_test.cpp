// A stop that waits for a safe point: taken up there, made by the watchdog
// when no safe point comes, or cut short by a second signal; the same signal
// sent twice at once (within a tenth of a second) is one stop.
#include "runtime/stop_signals.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

namespace blockeig::testing {
namespace {

int hook_pipe = -1;
int hook_raises = 0;  // a signal the hook raises before it reports, or 0
void tell_parent(int) {
  if (hook_raises != 0) ::raise(hook_raises);
  (void)!::write(hook_pipe, "h", 1);
}

TEST(StopSignals, DeferredStops) {
  enum class Then { claim_at_safe_point, no_safe_point, second_signal_later, same_signal_at_once };
  struct Case {
    const char* name;
    int grace_ms;
    Then then;
    int hook_raises;
    bool hook_completes;
    int ends_by;
  };
  const Case cases[] = {
      {"taken up at the safe point", 300, Then::claim_at_safe_point, 0, true, SIGTERM},
      {"made by the watchdog", 300, Then::no_safe_point, 0, true, SIGTERM},
      {"cut short by a second signal", 300, Then::second_signal_later, 0, false, SIGTERM},
      {"sent twice at once (group and forwarder): one stop", 300, Then::same_signal_at_once, 0, true, SIGTERM},
      {"sent again at once while the stop is made: one stop", 0, Then::no_safe_point, SIGTERM, true, SIGTERM},
      {"another signal while the stop is made ends at once", 0, Then::no_safe_point, SIGINT, false, SIGINT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    std::fflush(nullptr);
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      hook_pipe = ends[1];
      hook_raises = c.hook_raises;
      const int signals[] = {SIGTERM, SIGINT};
      runtime::catch_stop_signals(signals);
      runtime::set_stop_hook(tell_parent);
      runtime::defer_stops(std::chrono::milliseconds(c.grace_ms));
      ::raise(SIGTERM);  // deferred: the handler returns
      if (c.then == Then::same_signal_at_once) ::raise(SIGTERM);
      if (c.then == Then::claim_at_safe_point || c.then == Then::same_signal_at_once)
        runtime::stop(runtime::claim_stop());
      if (c.then == Then::second_signal_later) {
        ::usleep(200'000);
        ::raise(SIGTERM);
      }
      ::sleep(10);
      ::_exit(1);
    }
    ::close(ends[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    char byte = 0;
    EXPECT_EQ(::read(ends[0], &byte, 1) == 1, c.hook_completes);
    ::close(ends[0]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.ends_by) << status;
    EXPECT_LT(seconds, 5);
  }
}

}  // namespace
}  // namespace blockeig::testing
