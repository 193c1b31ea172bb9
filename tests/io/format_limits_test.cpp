// Format descriptors at the editing limits: what the parser accepts, the
// editing can hold (found by fuzzing: "(I256.256)" used to pass the parser
// with more minimum digits than the integer editing keeps).
#include <gtest/gtest.h>

#include "io/format.hpp"

namespace blockeig::io {
namespace {

TEST(FormatLimits, MinimumDigitsStayBelowTheFieldLimit) {
  const struct {
    const char* text;
    bool ok;
  } cases[] = {
      {"(I256.255)", true},
      {"(I0.255)", true},
      {"(I256.256)", false},
      {"(I0.256)", false},
      {"(I255.256)", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const FormatParse parsed = parse_format(c.text);
    EXPECT_EQ(parsed.ok(), c.ok) << parsed.error;
    if (!c.ok) {
      EXPECT_NE(parsed.error.find(" at position 2 "), std::string::npos) << parsed.error;
    }
  }
}

}  // namespace
}  // namespace blockeig::io
