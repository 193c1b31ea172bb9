// Start-up seen from outside: the floating-point control words it loads and
// a bad setting, which ends the run before the first statement.
#include <gtest/gtest.h>

#include <string>

#include "support/frame_probe.hpp"

namespace blockeig::testing {
namespace {

TEST(StartUp, FloatingPointControlWords) {
  TempDir dir;
  EXPECT_EQ(probe(dir, {"fp-environment"}).out, "037f 00001f80\n");
}

TEST(StartUp, BadSettingIsAStartUpError) {
  TempDir dir;
  const ChildResult r = probe(dir, {"fp-environment"}, {}, {"BLOCKEIG_CONVERT=middle_endian"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string(traceback) +
                       "Fortran runtime error: BLOCKEIG_CONVERT=middle_endian is not a byte order; use native, "
                       "little_endian, big_endian or swap\n");
}

}  // namespace
}  // namespace blockeig::testing
