#include "runtime/processors.hpp"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <limits>

namespace blockeig::runtime {

namespace {

constexpr std::string_view from_affinity = "CPU affinity mask";
constexpr std::string_view from_quota = "cgroup CPU quota (cpu.max)";
constexpr std::string_view from_online = "processors online";

// A small file of /proc or /sys, whole; empty when it cannot be read.
std::string read_small_file(const std::string& path) {
  std::string text;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
      text.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(fd);
  return text;
}

// The processors in the affinity mask, or 0 when there is none to be had.
int affinity_processors() {
  // The mask may be larger than cpu_set_t on a machine of more than 1024
  // processors: the kernel refuses a set too small for it.
  for (int size = 1024; size <= (1 << 20); size *= 2) {
    cpu_set_t* set = CPU_ALLOC(size);
    if (set == nullptr) return 0;
    const std::size_t bytes = CPU_ALLOC_SIZE(size);
    const int result = ::sched_getaffinity(0, bytes, set);
    const int count = result == 0 ? CPU_COUNT_S(bytes, set) : 0;
    const bool too_small = result != 0 && errno == EINVAL;
    CPU_FREE(set);
    if (!too_small) return count;
  }
  return 0;
}

int online_processors() {
  const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<int>(std::min<long>(count, std::numeric_limits<int>::max())) : 1;
}

// The lines of `text` in turn.
template <class Line>
void for_each_line(std::string_view text, Line&& line) {
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    line(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
}

// The next field of a line of mountinfo, with the kernel's octal escapes
// ("\040" for a space) undone.
std::string next_field(std::string_view& line) {
  const std::size_t end = std::min(line.find(' '), line.size());
  const std::string_view field = line.substr(0, end);
  line.remove_prefix(std::min(end + 1, line.size()));
  const auto octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string decoded;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) && octal(field[i + 2]) && octal(field[i + 3])) {
      decoded += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      decoded += field[i];
    }
  }
  return decoded;
}

}  // namespace

std::optional<int> quota_processors(std::string_view cpu_max) {
  std::uint64_t quota = 0, period = 0;
  const char* end = cpu_max.data() + cpu_max.size();
  const auto [after_quota, quota_error] = std::from_chars(cpu_max.data(), end, quota);
  if (quota_error != std::errc() || after_quota == end || *after_quota != ' ') return std::nullopt;
  const auto [after_period, period_error] = std::from_chars(after_quota + 1, end, period);
  if (period_error != std::errc() || quota == 0 || period == 0) return std::nullopt;
  if (after_period != end && std::string_view(after_period, end) != "\n") return std::nullopt;
  const std::uint64_t whole = quota / period + (quota % period != 0);
  return static_cast<int>(std::min<std::uint64_t>(whole, std::numeric_limits<int>::max()));
}

std::optional<int> cgroup_quota(const CgroupDirectory& cgroup) {
  std::optional<int> least;
  for (std::string directory = cgroup.directory;; directory.erase(directory.rfind('/'))) {
    if (const std::optional<int> quota = quota_processors(read_small_file(directory + "/cpu.max")))
      least = std::min(least.value_or(*quota), *quota);
    if (directory.size() <= cgroup.mount.size()) return least;
  }
}

std::optional<CgroupDirectory> cgroup_directory(std::string_view cgroup, std::string_view mountinfo) {
  // The unified hierarchy's line reads "0::/path".
  std::optional<std::string> path;
  for_each_line(cgroup, [&](std::string_view line) {
    if (line.starts_with("0::/")) path = std::string(line.substr(3));
  });
  if (!path) return std::nullopt;
  std::optional<CgroupDirectory> found;
  // "ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS [OPTIONAL...] - TYPE SOURCE ..."
  for_each_line(mountinfo, [&](std::string_view line) {
    if (found) return;
    for (int skip = 0; skip < 3; ++skip) next_field(line);
    const std::string root = next_field(line);
    std::string mount = next_field(line);
    const std::size_t separator = line.find(" - ");
    if (separator == std::string_view::npos) return;
    line.remove_prefix(separator + 3);
    if (next_field(line) != "cgroup2") return;
    // The mount shows the hierarchy from `root` down.
    std::string below = *path;
    if (root != "/") {
      const bool inside = path->starts_with(root) && (path->size() == root.size() || (*path)[root.size()] == '/');
      if (!inside) return;
      below = path->substr(root.size());
    }
    if (mount.ends_with('/')) mount.pop_back();
    found = CgroupDirectory{mount, below == "/" || below.empty() ? mount : mount + below};
  });
  return found;
}

namespace {

Processors find_processors() {
  Processors processors{affinity_processors(), from_affinity};
  if (processors.count == 0) processors = {online_processors(), from_online};
  const std::optional<CgroupDirectory> cgroup =
      cgroup_directory(read_small_file("/proc/self/cgroup"), read_small_file("/proc/self/mountinfo"));
  if (!cgroup) return processors;
  if (const std::optional<int> quota = cgroup_quota(*cgroup); quota && *quota < processors.count)
    processors = {*quota, from_quota};
  return processors;
}

}  // namespace

Processors available_processors() {
  // Looked up once: the settings and the thread pool then agree, and the
  // start-up's heap does not depend on how often they ask.
  static const Processors processors = find_processors();
  return processors;
}

}  // namespace blockeig::runtime
