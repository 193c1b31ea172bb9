// Start-up seen from outside: the floating-point environment it sets, and
// a bad setting, which ends the run before the first statement.
#include <gtest/gtest.h>

#include <string>

#include "support/frame_probe.hpp"

namespace blockeig::testing {
namespace {

// The probe turns every part of the environment the wrong way before
// start-up; after it, the arithmetic rounds to nearest, does not trap,
// keeps subnormals and carries 64 bits, on the main thread and on a helper.
TEST(StartUp, SetsTheArithmeticsEnvironment) {
  TempDir dir;
  const ChildResult r = probe(dir, {"fp-behaviour"});
  EXPECT_EQ(r.out,
            "main: nearest 1, infinity 1, subnormals 1, extended 1\n"
            "helper: nearest 1, infinity 1, subnormals 1, extended 1\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST(StartUp, BadSettingIsAStartUpError) {
  TempDir dir;
  const ChildResult r = probe(dir, {"fp-behaviour"}, {}, {"BLOCKEIG_CONVERT=middle_endian"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string(traceback) +
                       "Fortran runtime error: BLOCKEIG_CONVERT=middle_endian is not a byte order; use native, "
                       "little_endian, big_endian or swap\n");
}

}  // namespace
}  // namespace blockeig::testing
