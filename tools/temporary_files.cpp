#include "tools/temporary_files.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace scrtool {

namespace {

constexpr int cleanup_signals[] = {SIGHUP, SIGINT, SIGTERM, SIGPIPE};
constexpr int signal_count = sizeof cleanup_signals / sizeof cleanup_signals[0];

// The one piece of process-wide state: the names a signal handler must
// remove. It changes only with the cleanup signals blocked, so the handler
// never sees a slot half written. No command writes more than two files.
constexpr int slot_count = 4;
char* pending[slot_count] = {};
int live = 0;
struct sigaction previous[signal_count];
struct sigaction previous_xfsz;

extern "C" void remove_pending_and_reraise(int signal) {
  for (char* name : pending)
    if (name != nullptr) ::unlink(name);
  for (int k = 0; k < signal_count; ++k)
    if (cleanup_signals[k] == signal) ::sigaction(signal, &previous[k], nullptr);
  // Delivered under the previous disposition once this handler returns.
  ::raise(signal);
}

class BlockedSignals {
 public:
  BlockedSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : cleanup_signals) sigaddset(&set, s);
    ::sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~BlockedSignals() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  BlockedSignals(const BlockedSignals&) = delete;
  BlockedSignals& operator=(const BlockedSignals&) = delete;

 private:
  sigset_t saved_;
};

// A signal that is ignored stays ignored (a process started under nohup
// keeps ignoring SIGHUP).
void install_handlers() {
  for (int k = 0; k < signal_count; ++k) {
    ::sigaction(cleanup_signals[k], nullptr, &previous[k]);
    if (previous[k].sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = remove_pending_and_reraise;
    sigemptyset(&action.sa_mask);
    for (int s : cleanup_signals) sigaddset(&action.sa_mask, s);
    ::sigaction(cleanup_signals[k], &action, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, &previous_xfsz);
}

void restore_handlers() {
  for (int k = 0; k < signal_count; ++k) ::sigaction(cleanup_signals[k], &previous[k], nullptr);
  ::sigaction(SIGXFSZ, &previous_xfsz, nullptr);
}

int free_slot() {
  for (int k = 0; k < slot_count; ++k)
    if (pending[k] == nullptr) return k;
  return -1;
}

}  // namespace

TemporaryFile::TemporaryFile(std::string name_template) : path_(std::move(name_template)) {
  char* copy = new char[path_.size() + 1];
  std::memcpy(copy, path_.c_str(), path_.size() + 1);
  const BlockedSignals blocked;
  slot_ = free_slot();
  if (slot_ < 0) {
    delete[] copy;
    errno = EMFILE;
    return;
  }
  fd_ = ::mkostemp(copy, O_CLOEXEC);
  if (fd_ < 0) {
    const int saved = errno;
    delete[] copy;
    slot_ = -1;
    errno = saved;
    return;
  }
  path_ = copy;
  if (live++ == 0) install_handlers();
  pending[slot_] = copy;
}

TemporaryFile::~TemporaryFile() {
  if (slot_ < 0) return;
  if (fd_ >= 0) ::close(fd_);
  char* copy = nullptr;
  {
    const BlockedSignals blocked;
    copy = pending[slot_];
    pending[slot_] = nullptr;
    if (copy != nullptr) ::unlink(copy);
    if (--live == 0) restore_handlers();
  }
  delete[] copy;
}

bool TemporaryFile::close() {
  const int fd = fd_;
  fd_ = -1;
  return ::close(fd) == 0;
}

bool TemporaryFile::rename_to(const std::string& target) {
  const BlockedSignals blocked;
  if (::rename(path_.c_str(), target.c_str()) != 0) return false;
  delete[] pending[slot_];
  pending[slot_] = nullptr;
  return true;
}

}  // namespace scrtool
