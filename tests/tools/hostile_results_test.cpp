// scrtool compare and plot on results files made to hurt: very many blocks,
// a hundred megabytes, bytes that are no text.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>

#include "support/child_process.hpp"
#include "support/sanitizer.hpp"
#include "tools/scrtool_cli.hpp"
#include "tools/text_scan.hpp"

namespace scrtool {
namespace {

using blockeig::testing::TempDir;

struct Outcome {
  int status;
  std::string out, err;
};

Outcome scrtool(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = run_scrtool(args, out, err);
  return {status, out.str(), err.str()};
}

// A results file of a run that has not ended, with one sweep.
std::string running_document(const std::string& state, const std::string& eigenvalues, const std::string& w) {
  return R"j({"format": 1, "program": {}, "state": ")j" + state + R"j(", "direct": {"IERR": 0, "eigenvalues": [)j" +
         eigenvalues + R"j(]}, "sweeps": [{"ITER": 1, "W": [)j" + w +
         R"j(], "E(1)": 1.0, "E(2)": 1.0, "E(N-1)": 1.0, "E(N)": 1.0, "DELTA": 1e12}]})j";
}

std::string repeated(const std::string& item, std::size_t count) {
  std::string out;
  out.reserve((item.size() + 1) * count);
  for (std::size_t k = 0; k < count; ++k) {
    if (k > 0) out += ',';
    out += item;
  }
  return out;
}

// Two million blocks of two values in the last sweep's W: pairing them
// once moved every value past every block (minutes); it takes a moment.
TEST(HostileResults, ManyBlocksTakeLinearTime) {
  TempDir dir;
  blockeig::testing::write_file(dir / "r.json", running_document("running", "0.5, 0.5, 0.5", repeated("[1.0, 2.0]", 2000000)));
  const std::vector<std::string> commands[] = {{"compare", dir / "r.json"},
                                               {"plot", dir / "r.json", "-o", dir / "r.svg"}};
  for (const std::vector<std::string>& command : commands) {
    SCOPED_TRACE(command[0]);
    const auto start = std::chrono::steady_clock::now();
    const Outcome r = scrtool(command);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 60);
    // The lowest of every block in front: 1.0 at positions 1, 2 and 3.
    if (command[0] == "compare") {
      EXPECT_NE(r.out.find("\n     3         3 "), std::string::npos) << r.out.substr(0, 600);
    }
  }
}

// A hundred megabytes under a gigabyte of address space: the bulk in
// numbers scrtool keeps, in numbers it only checks, and in a member it does
// not read. The reader's tree once took 86 bytes per byte of text.
TEST(LargeInput, AHundredMegabyteResultsFileUnderAGigabyte) {
#ifdef BLOCKEIG_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#endif
  if (blockeig::testing::running_under_valgrind()) GTEST_SKIP() << "valgrind needs address space of its own";
  // 0,0,0,...: fifty million numbers.
  std::string bulk(99'999'999, '0');
  for (std::size_t k = 1; k < bulk.size(); k += 2) bulk[k] = ',';
  struct Case {
    const char* name;
    std::string document;
  };
  const Case cases[] = {
      {"direct eigenvalues", running_document("running", bulk, "[1.0]")},
      {"the last sweep's W", running_document("running", "1.0", "[" + bulk + "]")},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_GT(c.document.size(), 100'000'000u);
    blockeig::testing::write_file(dir / "big.json", c.document);
    blockeig::testing::ChildOptions options;
    options.directory = dir.path();
    options.before_exec = [] {
      const rlimit space{rlim_t{1} << 30, rlim_t{1} << 30};
      ::setrlimit(RLIMIT_AS, &space);
    };
    const blockeig::testing::ChildResult r = blockeig::testing::run_child(SCRTOOL_BIN, {"compare", "big.json"}, options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n     1         1 "), std::string::npos) << r.out.substr(0, 600);
  }
}

// Control bytes, broken UTF-8 and endless states in a file's name or its
// state: compare shows them quoted and cut, plot writes XML that a real
// parser accepts.
TEST(HostileResults, OddBytesAreEscapedForTheTerminalAndForXml) {
  struct Case {
    std::string name;
    std::string state;  // as the JSON document writes it
    std::string shown;  // the name or the state in compare's header
  };
  const Case cases[] = {
      {"soh\x01.json", "running", "soh\\x01.json"},
      {"latin\xe9.json", "running", "latin\\xe9.json"},
      {"amp&<lt>.json", "run & <stop>", "run & <stop>"},
      {"esc.json", "\\u001b]0;PWNED\\u0007", "\\x1b]0;PWNED\\x07"},
      {"c1.json", "\\u009b2J \\ufffe", "\\xc2\\x9b2J \xef\xbf\xbe"},
      {"long.json", std::string(300'000, 'x'), std::string(20, 'x') + "[...299960 bytes...]" + std::string(20, 'x')},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(printable(c.name));
    const std::string path = dir / c.name;
    blockeig::testing::write_file(path, running_document(c.state, "1.0, 2.0", "[1.5, 2.5]"));
    const Outcome table = scrtool({"compare", path});
    ASSERT_EQ(table.status, 0) << table.err;
    const std::string header = table.out.substr(0, table.out.find('\n'));
    EXPECT_EQ(printable(header), header);
    EXPECT_LT(header.size(), 400u + path.size() * 4);
    EXPECT_NE(header.find(c.shown), std::string::npos) << header;

    const Outcome picture = scrtool({"plot", path, "-o", dir / "p.svg"});
    ASSERT_EQ(picture.status, 0) << picture.err;
#ifdef XMLLINT_BIN
    const blockeig::testing::ChildResult lint = blockeig::testing::run_child(XMLLINT_BIN, {"--noout", dir / "p.svg"}, {});
    EXPECT_EQ(lint.status, 0) << lint.err;
    EXPECT_EQ(lint.err, "");
#else
    GTEST_SKIP() << "xmllint was not found when the tests were configured (scripts/install-packages tests)";
#endif
  }
}

}  // namespace
}  // namespace scrtool
