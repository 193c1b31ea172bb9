#pragma once
// Waiting for a descriptor that says "not now": a standard stream left
// non-blocking (a shared terminal, a harness's socket) refuses a request
// with EAGAIN where a blocking one would wait. That is no refusal, for the
// streams of the units and for the reports alike.

namespace blockeig::runtime {

// After a read or write of `fd` failed with errno set: when the descriptor
// was only "not ready yet", waits until it is ready for `events` (POLLIN or
// POLLOUT) and returns true, so that the request is made again, as a
// blocking stream would have waited. False for any other failure, whose
// errno is left as it was (or for a failed wait, with its errno). Safe in a
// signal handler.
bool wait_if_not_ready(int fd, short events);

}  // namespace blockeig::runtime
