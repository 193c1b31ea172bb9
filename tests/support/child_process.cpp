#include "support/child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace blockeig::testing {

namespace {

// The environment the child starts with: this process's (or none), changed
// by options.environment as ChildOptions describes.
std::vector<std::string> child_environment(const ChildOptions& options) {
  std::vector<std::string> entries;
  if (options.inherit_environment)
    for (char** e = environ; *e != nullptr; ++e) entries.emplace_back(*e);
  const auto name_of = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  for (const std::string& change : options.environment) {
    const std::string name = name_of(change);
    const bool prefix = change.find('=') == std::string::npos && change.ends_with('*');
    const std::string key = prefix ? name.substr(0, name.size() - 1) : name;
    std::erase_if(entries, [&](const std::string& entry) {
      return prefix ? entry.starts_with(key) : name_of(entry) == key;
    });
    if (change.find('=') != std::string::npos) entries.push_back(change);
  }
  return entries;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> list;
  for (std::string& s : strings) list.push_back(s.data());
  list.push_back(nullptr);
  return list;
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); }

void drain(int fd, std::string& into, bool& open) {
  char buffer[65536];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n > 0)
    into.append(buffer, static_cast<std::size_t>(n));
  else if (n == 0 || errno != EINTR)
    open = false;
}

}  // namespace

ChildResult run_child(const std::string& program, const std::vector<std::string>& arguments,
                      const ChildOptions& options) {
  // Everything the child needs is made before fork: between fork and exec
  // a child of a threaded process should make system calls only.
  std::vector<std::string> environment = child_environment(options);
  std::vector<std::string> argument_strings = {program};
  argument_strings.insert(argument_strings.end(), arguments.begin(), arguments.end());
  const std::vector<char*> envp = pointers(environment);
  const std::vector<char*> argv = pointers(argument_strings);
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (::pipe(in_pipe) || ::pipe(out_pipe) || ::pipe(err_pipe)) throw std::runtime_error("pipe");
  const auto started = std::chrono::steady_clock::now();
  // Nothing of this process's own buffered output may reach a child: a
  // before_exec step that forks a helper of its own (which never calls exec)
  // would otherwise write it out again when it ends, as it does under
  // valgrind.
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    ::dup2(in_pipe[0], 0);
    ::dup2(out_pipe[1], 1);
    ::dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) ::close(fd);
    if (!options.directory.empty() && ::chdir(options.directory.c_str()) != 0) ::_exit(126);
    if (options.before_exec) options.before_exec();
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  ::signal(SIGPIPE, SIG_IGN);
  // Feed the input in the background of the poll loop.
  std::size_t fed = 0;
  bool in_open = true;
  std::size_t signalled = 0;
  auto last_signal = started;
  const auto signals_pending = [&] { return signalled < options.signals.size(); };
  if (options.input.empty() && !signals_pending()) {
    ::close(in_pipe[1]);
    in_open = false;
  } else {
    ::fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
  }
  ChildResult result;
  bool out_open = true, err_open = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  while (out_open || err_open) {
    pollfd fds[3];
    int count = 0;
    if (out_open) fds[count++] = {out_pipe[0], POLLIN, 0};
    if (err_open) fds[count++] = {err_pipe[0], POLLIN, 0};
    if (in_open && fed < options.input.size()) fds[count++] = {in_pipe[1], POLLOUT, 0};
    auto wait = std::chrono::microseconds(1'000'000);
    while (signals_pending()) {
      const ChildOptions::Signal& next = options.signals[signalled];
      const auto now = std::chrono::steady_clock::now();
      const auto due = last_signal + std::chrono::milliseconds(next.pause_ms);
      // What `when` waits for comes with output, which ends the poll below.
      if (next.when && !next.when(result.out)) break;
      if (now < due) {
        wait = std::min(wait, std::chrono::duration_cast<std::chrono::microseconds>(due - now));
        break;
      }
      ::kill(pid, next.number);
      last_signal = now;
      ++signalled;
    }
    // After the last signal and the input, standard input closes once its
    // time is up.
    if (!signals_pending() && in_open && fed == options.input.size()) {
      const auto close_at = last_signal + std::chrono::milliseconds(options.input_open_after_signals_ms);
      const auto now = std::chrono::steady_clock::now();
      if (now >= close_at) {
        ::close(in_pipe[1]);
        in_open = false;
      } else {
        wait = std::min(wait, std::chrono::duration_cast<std::chrono::microseconds>(close_at - now));
      }
    }
    if (options.kill_after_microseconds > 0 && !result.killed) {
      const auto kill_at = started + std::chrono::microseconds(options.kill_after_microseconds);
      const auto now = std::chrono::steady_clock::now();
      if (now >= kill_at) {
        result.killed = ::kill(pid, SIGKILL) == 0;
        wait = std::chrono::microseconds(0);
      } else {
        wait = std::min(wait, std::chrono::duration_cast<std::chrono::microseconds>(kill_at - now));
      }
    }
    const timespec timeout{static_cast<time_t>(wait.count() / 1'000'000), static_cast<long>(wait.count() % 1'000'000) * 1000};
    if (::ppoll(fds, static_cast<nfds_t>(count), &timeout, nullptr) < 0 && errno != EINTR) break;
    for (int i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == out_pipe[0]) drain(out_pipe[0], result.out, out_open);
      else if (fds[i].fd == err_pipe[0]) drain(err_pipe[0], result.err, err_open);
      else {
        const ssize_t n = ::write(in_pipe[1], options.input.data() + fed, options.input.size() - fed);
        if (n > 0) fed += static_cast<std::size_t>(n);
        if (n < 0 && errno != EAGAIN) fed = options.input.size();
        if (fed == options.input.size() && !signals_pending()) {
          ::close(in_pipe[1]);
          in_open = false;
        }
      }
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      result.timed_out = true;
      break;
    }
  }
  if (in_open) ::close(in_pipe[1]);
  ::close(out_pipe[0]);
  ::close(err_pipe[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  // A child that ended by itself just before the kill was not killed.
  result.killed = result.killed && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  result.wall_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.cpu_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  result.peak_kib = usage.ru_maxrss;
  return result;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::filesystem::path root = base != nullptr ? base : "/tmp";
  std::random_device random;
  for (;;) {
    path_ = root / ("blockeig-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
  // Only directories need opening up to be emptied; a test's symbolic link
  // (to /dev/null, say) must not lend its target new permissions.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored))
    if (entry.is_directory(ignored) && !entry.is_symlink(ignored))
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace blockeig::testing
