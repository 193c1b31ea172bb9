// Reads and writes that move fewer bytes than asked, or are interrupted
// before moving any, as pipes, terminals and signals may make them. A run
// must not notice: same console, same report, same files, same status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/sanitizer.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

struct Outcome {
  ChildResult child;
  std::string eigenvalues;  // C.SCR.TXT, if the run wrote it
};

Outcome run(const std::string& scr, const std::string& input, std::vector<std::string> environment) {
  TempDir dir;
  if (!scr.empty()) write_file(dir / "A.SCR", scr);
  ChildOptions options;
  options.directory = dir.path();
  options.input = input;
  options.environment = std::move(environment);
  Outcome outcome{run_child(BLOCKEIG_BIN, {}, options), ""};
  if (std::filesystem::exists(dir / "C.SCR.TXT")) outcome.eigenvalues = read_file(dir / "C.SCR.TXT");
  return outcome;
}

TEST(Fault, ShortAndInterruptedTransfersChangeNothing) {
#ifdef BLOCKEIG_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer must come first among the preloaded libraries";
#endif
  if (running_under_valgrind()) GTEST_SKIP() << "valgrind sets the preloaded libraries itself";
  struct Run {
    const char* name;
    std::string scr;
    std::string input;
  };
  const std::string matrix = scr_file(10, one_two_one_matrix(10));
  const Run runs[] = {
      {"a whole run", matrix, "2\n"},
      {"a run that prompts again", matrix, "0\n\n  3*\n2\n"},
      {"a short matrix record", matrix.substr(0, matrix.size() - 9), "2\n"},
      {"no A.SCR", "", "2\n"},
  };
  struct Transfers {
    const char* short_io;
    const char* interrupt_every;
  };
  const Transfers transfers[] = {{"1", "0"}, {"7", "0"}, {"0", "2"}, {"0", "3"}, {"5", "4"}};
  for (const Run& r : runs) {
    SCOPED_TRACE(r.name);
    const Outcome plain = run(r.scr, r.input, {});
    for (const Transfers& t : transfers) {
      SCOPED_TRACE(std::string("SHORT_IO=") + t.short_io + " INTERRUPT_EVERY=" + t.interrupt_every);
      const Outcome cut = run(r.scr, r.input,
                              {std::string("LD_PRELOAD=") + SHORT_TRANSFERS_LIB, std::string("SHORT_IO=") + t.short_io,
                               std::string("INTERRUPT_EVERY=") + t.interrupt_every});
      EXPECT_EQ(cut.child.out, plain.child.out);
      EXPECT_EQ(cut.child.err, plain.child.err);
      EXPECT_EQ(cut.child.status, plain.child.status);
      EXPECT_EQ(cut.eigenvalues, plain.eigenvalues);
    }
  }
}

}  // namespace
}  // namespace blockeig::testing
