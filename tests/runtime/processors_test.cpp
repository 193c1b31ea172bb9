#include "runtime/processors.hpp"

#include <sched.h>

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>

#include "support/child_process.hpp"

namespace blockeig::runtime {
namespace {

TEST(Processors, QuotaInWholeProcessorsRoundedUp) {
  const struct {
    const char* cpu_max;
    std::optional<int> processors;
  } cases[] = {
      {"max 100000\n", std::nullopt},
      {"200000 100000\n", 2},
      {"150000 100000\n", 2},
      {"100001 100000", 2},
      {"1000 100000\n", 1},
      {"18446744073709551615 1\n", INT_MAX},
      {"0 100000\n", std::nullopt},
      {"100000 0\n", std::nullopt},
      {"100000\n", std::nullopt},
      {"100000 100000 x\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(quota_processors(c.cpu_max), c.processors) << c.cpu_max;
}

TEST(Processors, TheCgroupIsFoundUnderTheMountThatShowsIt) {
  const std::string v1_lines = "12:cpu,cpuacct:/user.slice\n1:name=systemd:/user.slice/a.scope\n";
  const std::string v1_mount = "30 25 0:26 / /sys/fs/cgroup/cpu rw,nosuid shared:9 - cgroup cgroup rw,cpu\n";
  const struct {
    const char* name;
    std::string cgroup, mountinfo;
    std::optional<CgroupDirectory> found;
  } cases[] = {
      {"unified", "0::/user.slice/a.scope\n",
       "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n29 25 0:25 / /sys/fs/cgroup rw,nosuid shared:4 - cgroup2 cgroup2 rw\n",
       CgroupDirectory{"/sys/fs/cgroup", "/sys/fs/cgroup/user.slice/a.scope"}},
      {"hybrid, at the root", v1_lines + "0::/\n",
       v1_mount + "28 25 0:25 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n",
       CgroupDirectory{"/sys/fs/cgroup/unified", "/sys/fs/cgroup/unified"}},
      {"a container's own cgroup mounted", "0::/docker/abc\n",
       "40 30 0:30 /docker/abc /sys/fs/cgroup ro master:2 - cgroup2 cgroup rw\n",
       CgroupDirectory{"/sys/fs/cgroup", "/sys/fs/cgroup"}},
      {"below the mount's root", "0::/docker/abc/job\n",
       "40 30 0:30 /docker/abc /sys/fs/cgroup rw - cgroup2 cgroup rw\n",
       CgroupDirectory{"/sys/fs/cgroup", "/sys/fs/cgroup/job"}},
      {"outside the mount's root", "0::/docker/abcd\n", "40 30 0:30 /docker/abc /sys/fs/cgroup rw - cgroup2 cgroup rw\n",
       std::nullopt},
      {"a mount point with a space", "0::/a\n", "40 30 0:30 / /mnt/c\\040g rw - cgroup2 none rw\n",
       CgroupDirectory{"/mnt/c g", "/mnt/c g/a"}},
      {"cgroup v1 only", v1_lines, v1_mount, std::nullopt},
      {"the hierarchy not mounted", "0::/a\n", v1_mount, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<CgroupDirectory> found = cgroup_directory(c.cgroup, c.mountinfo);
    ASSERT_EQ(found.has_value(), c.found.has_value());
    if (!found) continue;
    EXPECT_EQ(found->mount, c.found->mount);
    EXPECT_EQ(found->directory, c.found->directory);
  }
}

// The least quota on the way up wins; the hierarchy's root has no cpu.max.
TEST(Processors, TheLeastQuotaAboveTheCgroupWins) {
  testing::TempDir root;
  const std::filesystem::path job = root / "slice/job/step";
  std::filesystem::create_directories(job);
  const CgroupDirectory cgroup{root.path().string(), job.string()};
  EXPECT_EQ(cgroup_quota(cgroup), std::nullopt);
  testing::write_file(root / "slice/cpu.max", "400000 100000\n");
  testing::write_file(root / "slice/job/cpu.max", "max 100000\n");
  testing::write_file(job / "cpu.max", "250000 100000\n");
  EXPECT_EQ(cgroup_quota(cgroup), 3);
  testing::write_file(root / "slice/cpu.max", "150000 100000\n");
  EXPECT_EQ(cgroup_quota(cgroup), 2);
  testing::write_file(root / "cpu.max", "100000 100000\n");  // the mount point: still counted
  EXPECT_EQ(cgroup_quota(cgroup), 1);
}

// A run given one processor starts one thread, and --settings says why.
TEST(Processors, TheDefaultThreadCountFollowsTheAffinityMask) {
  cpu_set_t allowed;
  ASSERT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
  int first = 0;
  while (!CPU_ISSET(first, &allowed)) ++first;
  testing::TempDir dir;
  testing::ChildOptions options;
  options.directory = dir.path();
  options.environment = {"BLOCKEIG_THREADS"};
  options.before_exec = [first] {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ::sched_setaffinity(0, sizeof one, &one);
  };
  const testing::ChildResult r = testing::run_child(BLOCKEIG_BIN, {"--settings"}, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\nBLOCKEIG_THREADS            1              default: CPU affinity mask\n"), std::string::npos)
      << r.out;
}

}  // namespace
}  // namespace blockeig::runtime
