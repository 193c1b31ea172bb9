#include "runtime/allocate.hpp"

#include <gtest/gtest.h>

#include "support/frame_probe.hpp"

namespace blockeig::runtime {
namespace {

struct SizeCase {
  std::size_t element;
  std::initializer_list<std::int64_t> extents;
  std::int64_t bytes;
};

TEST(AllocationSize, FollowsTheSizeRule) {
  const SizeCase cases[] = {
      {8, {23170, 23170}, 4'294'791'200},  // passes the check
      {8, {23171, 23171}, -1},             // 4,295,161,928 bytes: fails before any memory is asked for
      {8, {0, 5}, 0},
      {8, {-3}, 0},
      {4, {1}, 4},
      {8, {600'000'000, 0}, -1},  // the check comes before the empty extent is met
      {8, {0, 600'000'000}, 0},   // a running size of 0 is never checked
      {1, {4'294'967'295}, 4'294'967'295},
      {1, {4'294'967'296}, -1},
  };
  for (const SizeCase& c : cases) EXPECT_EQ(allocation_size(c.element, c.extents), c.bytes);
}

TEST(Allocate, EmptyArrayIsAllocatedAndReleased) {
  Array<double> a;
  allocate(a, {0});
  EXPECT_TRUE(a.allocated());
  EXPECT_EQ(a.size(), 0u);
  deallocate(a);
  EXPECT_FALSE(a.allocated());
  release_if_allocated(a);  // skipped without a report
}

// The largest N x N matrix of doubles that passes the size check is
// allocated in a whole run.
TEST(Allocate, LargestSquareMatrixPassesTheSizeCheck) {
  testing::TempDir dir;
  const testing::ChildResult r = testing::probe(dir, {"allocate", "23170"});
  EXPECT_EQ(r.out, "allocated 536848900\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace blockeig::runtime
