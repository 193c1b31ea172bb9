#pragma once
// Ending the process when it is asked to stop (SIGINT, SIGTERM, SIGHUP; for
// scrtool SIGPIPE as well): the temporary files of replacements in progress
// are removed, a hook writes what the stop must leave (the results file's
// last document), and the signal is raised again with its default action,
// so that whoever waits for the process sees it ended by that signal (a
// shell shows 130, 143, 129). A signal that was ignored when the handlers
// were installed stays ignored: a run under nohup keeps ignoring SIGHUP.
//
// The stop is made on the thread that installed the handlers (a signal
// that another thread receives is passed on to it), inside the handler,
// with only the calls that are safe there and on memory prepared ahead.
//
// That thread may also have a stop wait for a safe point of its own: while
// defer_stops() allows it, a first signal only marks the stop, which the
// thread takes up with claim_stop() at its next safe point and completes
// with stop(). If no safe point comes within the grace given, a watchdog
// has the stop made without it. A second signal, while a stop waits or is
// being made, ends the process at once: the temporary files are removed and
// the signal takes its default action. The stop's own signal once more
// within a tenth of a second of the first is the same stop, not a second
// one: what a process group and a supervisor that forwards to its child
// both send (timeout, scrtool study) is taken once, while a second Ctrl-C
// comes later than that.
#include <chrono>
#include <span>
#include <string_view>

namespace blockeig::runtime {

// Installs the stop on `signals` (those not ignored now) for the calling
// thread, keeping the dispositions found for release_stop_signals().
void catch_stop_signals(std::span<const int> signals);
// Gives the signals back the dispositions they had before.
void release_stop_signals();

// What a stop writes before the temporary files go and the signal ends the
// process; it receives the signal number. It must allocate nothing and be
// safe in a signal handler. Null: nothing.
void set_stop_hook(void (*hook)(int signal));

// Whether a first signal waits for the next safe point, and for how long
// at most: a zero grace stops at once. Starts the watchdog (a timer that
// signals the stopping thread with SIGRTMIN) the first time a grace is
// given; where no timer can be had, stops are not deferred.
void defer_stops(std::chrono::nanoseconds grace);
// At a safe point: the signal of a stop that waits for it, which the caller
// now owns and must complete with stop(); 0 when no stop waits.
int claim_stop();
// Makes the stop for `signal` from the calling thread: the stop hook, the
// temporary files removed, the signal raised with its default action.
[[noreturn]] void stop(int signal) noexcept;

// "SIGINT", "SIGTERM", "SIGHUP", "SIGPIPE" (the signals a stop is made on).
std::string_view signal_name(int signal);

}  // namespace blockeig::runtime
