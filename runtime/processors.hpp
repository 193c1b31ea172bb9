#pragma once
// The processors this process is given, which may be far fewer than the
// machine has: a run under `taskset`, in a container limited to 2 CPUs of a
// 64-core host, or in a batch job given 4 cores of a large node.
#include <optional>
#include <string>
#include <string_view>

namespace blockeig::runtime {

struct Processors {
  int count = 1;  // at least 1
  // What decided the count, as `--settings` names it.
  std::string_view source;
};

// The processors in the CPU affinity mask (sched_getaffinity), capped by the
// CPU quota of the process's cgroup v2 and of each cgroup above it
// (cpu.max, rounded up to whole processors). Without an affinity mask, the
// processors the platform reports online. Found at the first call; later
// calls return the same.
Processors available_processors();

// The whole processors a cgroup's cpu.max allows ("150000 100000": 2);
// none for "max", a quota of 0 or a line that does not parse.
std::optional<int> quota_processors(std::string_view cpu_max);

// Where the process's cgroup v2 lies in the file system.
struct CgroupDirectory {
  std::string mount;      // the hierarchy's mount point
  std::string directory;  // the process's cgroup: mount, or a directory below it
};

// The process's cgroup v2 from the texts of /proc/self/cgroup and
// /proc/self/mountinfo; none when the process has no cgroup v2 or its cgroup
// lies outside every mount of the hierarchy.
std::optional<CgroupDirectory> cgroup_directory(std::string_view cgroup, std::string_view mountinfo);

// The least quota of the cgroup and of every cgroup above it up to the
// mount point; none when no cpu.max there sets one.
std::optional<int> cgroup_quota(const CgroupDirectory& cgroup);

}  // namespace blockeig::runtime
