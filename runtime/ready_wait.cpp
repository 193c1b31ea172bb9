#include "runtime/ready_wait.hpp"

#include <poll.h>

#include <cerrno>

namespace blockeig::runtime {

bool wait_if_not_ready(int fd, short events) {
  if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
  pollfd ready{fd, events, 0};
  while (::poll(&ready, 1, -1) < 0)
    if (errno != EINTR) return false;
  return true;
}

}  // namespace blockeig::runtime
