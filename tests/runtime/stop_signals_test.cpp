// A stop that waits for a safe point: taken up there, made by the watchdog
// when no safe point comes, or cut short by a second signal.
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
void tell_parent(int) { (void)!::write(hook_pipe, "h", 1); }

TEST(StopSignals, DeferredStops) {
  enum class Then { claim_at_safe_point, no_safe_point, second_signal };
  struct Case {
    const char* name;
    Then then;
    bool hook_runs;
  };
  const Case cases[] = {
      {"taken up at the safe point", Then::claim_at_safe_point, true},
      {"made by the watchdog", Then::no_safe_point, true},
      {"cut short by a second signal", Then::second_signal, false},
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
      const int signals[] = {SIGTERM};
      runtime::catch_stop_signals(signals);
      runtime::set_stop_hook(tell_parent);
      runtime::defer_stops(std::chrono::milliseconds(300));
      ::raise(SIGTERM);  // deferred: the handler returns
      if (c.then == Then::claim_at_safe_point) runtime::stop(runtime::claim_stop());
      if (c.then == Then::second_signal) ::raise(SIGTERM);
      ::sleep(10);
      ::_exit(1);
    }
    ::close(ends[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    char byte = 0;
    EXPECT_EQ(::read(ends[0], &byte, 1) == 1, c.hook_runs);
    ::close(ends[0]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_LT(seconds, 5);
  }
}

}  // namespace
}  // namespace blockeig::testing
