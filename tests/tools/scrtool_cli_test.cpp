#include "tools/scrtool_cli.hpp"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/child_process.hpp"
#include "support/sanitizer.hpp"
#include "tools/matrix.hpp"

namespace scrtool {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "scrtool-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& path() const { return path_; }
  // Names in the directory, so that stray temporary files show.
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(path_)) out.push_back(entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  fs::path path_;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

struct Outcome {
  int status;
  std::string out, err;
};

Outcome scrtool(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int status = run_scrtool(args, out, err);
  return {status, out.str(), err.str()};
}

// gen -> export -> import gives the same A.SCR byte for byte, in every format.
TEST(ScrtoolCli, RoundTripsGiveIdenticalBytes) {
  TempDir dir;
  for (const char* kind : {"random", "clustered", "hilbert", "wilkinson", "tridiag"})
    for (const char* ext : {".mtx", ".npy", ".txt", ".mm"}) {
      SCOPED_TRACE(std::string(kind) + ext);
      const std::string a = dir / "A.SCR", x = dir / (std::string("x") + ext), b = dir / "B.SCR";
      ASSERT_EQ(scrtool({"gen", kind, "7", "--seed", "3", "-o", a}).status, 0);
      ASSERT_EQ(scrtool({"export", a, "-o", x}).status, 0);
      const Outcome back = scrtool({"import", x, "-o", b});
      ASSERT_EQ(back.status, 0) << back.err;
      EXPECT_EQ(back.out, "wrote " + b + ": N = 7, 412 bytes, little-endian\n");
      EXPECT_EQ(slurp(a), slurp(b));
    }
  // A non-symmetric matrix takes the "general" path of every writer.
  spit(dir / "g.txt", "1 2 3\n4 5 6\n7 8 0.1\n");
  ASSERT_EQ(scrtool({"import", dir / "g.txt", "-o", dir / "G.SCR"}).status, 0);
  for (const char* ext : {".mtx", ".npy", ".txt"}) {
    ASSERT_EQ(scrtool({"export", dir / "G.SCR", "-o", dir / (std::string("g2") + ext)}).status, 0);
    ASSERT_EQ(scrtool({"import", dir / (std::string("g2") + ext), "-o", dir / "H.SCR"}).status, 0);
    EXPECT_EQ(slurp(dir / "G.SCR"), slurp(dir / "H.SCR")) << ext;
  }
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"A.SCR", "B.SCR", "G.SCR", "H.SCR", "g.txt", "g2.mtx", "g2.npy",
                                                   "g2.txt", "x.mm", "x.mtx", "x.npy", "x.txt"}));
}

// A matrix that is not symmetric is written as it is with a warning naming
// the largest difference and its place, or made symmetric on request.
TEST(ScrtoolCli, ImportOfAMatrixThatIsNotSymmetric) {
  TempDir dir;
  spit(dir / "g.txt", "1 2 3\n4 5 6\n7 8 0.1\n");
  const Outcome plain = scrtool({"import", dir / "g.txt", "-o", dir / "G.SCR"});
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.err, "scrtool import: warning: " + dir / "g.txt" +
                           ": the matrix is not symmetric; largest |A(i,j)-A(j,i)| is 4 at A(3,1) = 7, A(1,3) = 3 "
                           "(3 of 3 pairs differ)\n"
                           "scrtool import: blockeig's direct solve reads the lower triangle and the diagonal, its "
                           "block sweeps all of A; --symmetrize lower|upper|average makes them one matrix\n");
  EXPECT_EQ(scrtool({"export", dir / "G.SCR"}).out, "1 2 3\n4 5 6\n7 8 0.1\n");
  const std::pair<const char*, const char*> rules[] = {
      {"lower", "1 4 7\n4 5 8\n7 8 0.1\n"},
      {"upper", "1 2 3\n2 5 6\n3 6 0.1\n"},
      {"average", "1 3 5\n3 5 7\n5 7 0.1\n"},
  };
  for (const auto& [rule, text] : rules) {
    SCOPED_TRACE(rule);
    const Outcome r = scrtool({"import", dir / "g.txt", "--symmetrize", rule, "-o", dir / "S.SCR"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "wrote " + dir / "S.SCR" + ": N = 3, 92 bytes, little-endian, symmetrized (" + rule +
                         "): 3 of 3 pairs changed\n");
    EXPECT_EQ(scrtool({"export", dir / "S.SCR"}).out, text);
  }
  const Outcome bad = scrtool({"import", dir / "g.txt", "--symmetrize", "both", "-o", dir / "B.SCR"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(bad.err.starts_with("scrtool import: --symmetrize takes lower, upper or average, not 'both'\n"));
  EXPECT_FALSE(fs::exists(dir / "B.SCR"));
}

TEST(ScrtoolCli, BigEndianImportAndExport) {
  TempDir dir;
  spit(dir / "m.txt", "2\n1 0.5\n0.5 -1\n");
  ASSERT_EQ(scrtool({"import", "--big-endian", dir / "m.txt", "-o", dir / "B.SCR"}).status, 0);
  const std::string big = slurp(dir / "B.SCR");
  ASSERT_EQ(big.size(), 52u);
  EXPECT_EQ(big.substr(0, 8), std::string("\0\0\0\4\0\0\0\2", 8));
  const Outcome text = scrtool({"export", dir / "B.SCR"});
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.out, "1 0.5\n0.5 -1\n");
  const Outcome info = scrtool({"info", dir / "B.SCR"});
  EXPECT_EQ(info.status, 1);
  EXPECT_NE(info.out.find("BLOCKEIG_CONVERT=big_endian accepts it"), std::string::npos) << info.out;
}

// Bad input: a message naming the place, status 2, and the output file
// neither created nor changed, with no temporary file left behind.
TEST(ScrtoolCli, BadInputLeavesNoOutput) {
  TempDir dir;
  spit(dir / "A.SCR", "keep me");
  spit(dir / "rect.txt", "1 2 3\n4 5 6\n");
  spit(dir / "bad.mtx", "%%MatrixMarket matrix coordinate real general\n2 2 1\n1 1 x\n");
  spit(dir / "bad.npy", "\x93NUMPY\x01");
  spit(dir / "empty.txt", "");
  spit(dir / "bad.json", "{\"format\": 1\n");
  spit(dir / "early.json", "{\"format\": 1, \"program\": {}, \"state\": \"running\"}\n");
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"import", dir / "rect.txt", "-o", dir / "A.SCR"},
       "scrtool import: " + dir / "rect.txt" + ":2: the file ends after 2 rows; the matrix is not square"},
      {{"import", dir / "bad.mtx", "-o", dir / "A.SCR"},
       "scrtool import: " + dir / "bad.mtx" + ":3:5: 'x' is not a real number\n"},
      {{"import", dir / "bad.npy", "-o", dir / "A.SCR"},
       "scrtool import: " + dir / "bad.npy" + ": byte 7: the file is too short for a .npy header\n"},
      {{"import", dir / "empty.txt", "-o", dir / "A.SCR"}, "the file holds no numbers"},
      {{"import", dir / "missing.txt", "-o", dir / "A.SCR"},
       "scrtool import: cannot open " + dir / "missing.txt" + ": No such file or directory\n"},
      {{"import", dir.path().string(), "-o", dir / "A.SCR"}, "it is a directory"},
      {{"gen", "random", "5", "--eigenvalues", dir / "ev.txt", "-o", dir / "A.SCR"},
       "scrtool gen: no exact spectrum is known for kind 'random'\n"},
      {{"gen", "ones", "1", "-o", dir / "A.SCR"}, "scrtool gen: order 1 is below 2"},
      {{"gen", "ones", "11181", "-o", dir / "A.SCR"}, "scrtool gen: order 11181 is above 11180"},
      {{"gen", "ones", "5x", "-o", dir / "A.SCR"}, "scrtool gen: the order '5x' is not an integer"},
      {{"gen", "gauss", "5", "-o", dir / "A.SCR"}, "scrtool gen: unknown kind 'gauss'; the kinds are random, tridiag"},
      {{"gen", "random", "5", "--seed", "-1", "-o", dir / "A.SCR"}, "scrtool gen: the seed '-1' is not an integer"},
      {{"export", dir / "A.SCR", "-o", dir / "out.npy"}, "scrtool export: " + dir / "A.SCR" + ": the length marker of record 1 at byte 0 (1885693291) is above"},
      {{"export", dir / "rect.txt", "-o", dir / "out.csv"}, "scrtool export: cannot tell the format of"},
      {{"import", dir / "rect.txt", "-o", dir / "no/such/dir/A.SCR"}, "scrtool import: "},
      {{"plot", dir / "rect.txt", "-o", dir / "p.svg"}, "scrtool plot: " + dir / "rect.txt" + ": no sweep line found"},
      {{"plot", dir / "bad.json", "-o", dir / "p.svg"}, "scrtool plot: " + dir / "bad.json" + ":2:1: expected '}'"},
      {{"plot", dir / "early.json", "-o", dir / "p.svg"},
       "scrtool plot: " + dir / "early.json" + ": the run has no finished sweep yet (state \"running\")"},
      {{"compare", dir / "rect.txt", "-o", dir / "p.csv"},
       "scrtool compare: " + dir / "rect.txt" + ": not a results file (blockeig --results FILE writes one)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const Outcome r = scrtool(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with("scrtool " + c.args[0] + ": ")) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(slurp(dir / "A.SCR"), "keep me");
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"A.SCR", "bad.json", "bad.mtx", "bad.npy", "early.json", "empty.txt",
                                                   "rect.txt"}));
}

// An output that is one of the command's inputs, under any name that leads
// to it, is refused before any work: exit 2, every file as it was.
TEST(ScrtoolCli, OutputOverAnInputIsRefused) {
  TempDir dir;
  ASSERT_EQ(scrtool({"gen", "random", "4", "-o", dir / "A.SCR"}).status, 0);
  ASSERT_EQ(scrtool({"export", dir / "A.SCR", "-o", dir / "m.npy"}).status, 0);
  spit(dir / "m.txt", "2 1\n1 2\n");
  fs::copy_file(dir / "A.SCR", dir / "s-1.json");
  blockeig::testing::ChildOptions options;
  options.directory = dir.path();
  options.input = "2\n";
  ASSERT_EQ(blockeig::testing::run_child(BLOCKEIG_BIN, {"--results", "r.json"}, options).status, 0);
  fs::remove(dir / "C.SCR.TXT");
  fs::create_symlink("r.json", dir / "link.json");
  fs::create_symlink("A.SCR", dir / "A.npy");
  fs::create_hard_link(dir / "r.json", dir / "hard.json");
  const std::vector<std::string> names = dir.names();
  std::vector<std::string> contents;
  for (const std::string& name : names) contents.push_back(slurp(dir / name));
  struct Case {
    std::vector<std::string> args;
    std::string output, input;  // as the message names them
  };
  const Case cases[] = {
      {{"import", dir / "m.txt", "-o", dir / "m.txt"}, dir / "m.txt", dir / "m.txt"},
      {{"import", dir / "m.npy", "-o", dir / "./m.npy"}, dir / "./m.npy", dir / "m.npy"},
      {{"export", dir / "A.SCR", "-o", dir / "A.npy"}, dir / "A.npy", dir / "A.SCR"},
      {{"plot", dir / "r.json", "-o", dir / "r.json"}, dir / "r.json", dir / "r.json"},
      {{"plot", dir / "r.json", dir / "link.json", "-o", dir / "hard.json"}, dir / "hard.json", dir / "r.json"},
      {{"compare", dir / "r.json", "-o", dir / "link.json"}, dir / "link.json", dir / "r.json"},
      {{"compare", dir / "link.json", "-o", dir / "hard.json"}, dir / "hard.json", dir / "link.json"},
      {{"study", "--blocks", "1,2", "--program", BLOCKEIG_BIN, "-o", dir / "A.SCR", dir / "A.SCR"}, dir / "A.SCR",
       dir / "A.SCR"},
      {{"study", "--blocks", "2,1", "--program", BLOCKEIG_BIN, "-o", dir / "s.svg", dir / "s-1.json"},
       dir / "s-1.json", dir / "s-1.json"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " -o " + c.output);
    const Outcome r = scrtool(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "scrtool " + c.args[0] + ": cannot write " + c.output + ": it is the input file " + c.input + "\n");
    EXPECT_EQ(dir.names(), names);
    for (std::size_t k = 0; k < names.size(); ++k) EXPECT_EQ(slurp(dir / names[k]), contents[k]) << names[k];
  }
}

// A message shows the bytes of a file it quotes so that none can cut it
// short or act on the terminal: controls, C1 controls and bytes that are
// not UTF-8 as \xNN, other UTF-8 as it is.
TEST(ScrtoolCli, OddBytesInMessagesAreQuoted) {
  const std::string npy_header = "{'descr': '<\xff" "8', 'fortran_order': False, 'shape': (2, 2), }\n";
  struct Case {
    const char* name;
    std::string content;
    const char* message;
  };
  const Case cases[] = {
      {"nul.mtx", std::string("%%MatrixMarket matrix coordinate real general\n2 2 1\n1 1 ") + '\0' + "1\n",
       ":3:5: '\\x001' is not a real number\n"},
      {"esc.txt", "1 \x1b[31mred\n1 2\n", ":1:3: '\\x1b[31mred' is not a number\n"},
      {"csi.txt", "1 \xc2\x9b" "2J\n1 2\n", ":1:3: '\\xc2\\x9b2J' is not a number\n"},
      {"utf8.txt", "1 \xc3\xa9\n1 2\n", ":1:3: '\xc3\xa9' is not a number\n"},
      {"dtype.npy", std::string("\x93NUMPY\x01\x00", 8) + static_cast<char>(npy_header.size()) + '\0' + npy_header,
       ": byte 10: dtype '<\\xff8' is not supported"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    spit(dir / c.name, c.content);
    const Outcome r = scrtool({"import", dir / c.name, "-o", dir / "A.SCR"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

// A Matrix Market file without its banner, as such files are often passed
// around, is read when the user names it one (--format mtx or the
// extension), with a warning that says what was assumed.
TEST(ScrtoolCli, ImportOfAFileWithoutItsBanner) {
  TempDir dir;
  const std::string coordinate = "2 2 3\n1 1 2\n2 1 -1\n2 2 2\n";
  for (const char* name : {"c.mtx", "c.dat"}) spit(dir / name, coordinate);
  spit(dir / "a.dat", "2 2\n2\n-1\n-1\n2\n");
  const std::string warning = ": no %%MatrixMarket header line; assumed \"%%MatrixMarket matrix ";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {{"import", dir / "c.mtx", "--symmetrize", "lower", "-o", dir / "C.SCR"}, 0,
       "scrtool import: warning: " + dir / "c.mtx" + warning + "coordinate real general\"\n"},
      {{"import", "--format", "mtx", dir / "a.dat", "-o", dir / "A.SCR"}, 0,
       "scrtool import: warning: " + dir / "a.dat" + warning + "array real general\"\n"},
      // Not named a Matrix Market file: read as a text table, which it is not.
      {{"import", dir / "c.dat", "-o", dir / "X.SCR"}, 2, "scrtool import: " + dir / "c.dat" + ":4:1: more than 3 rows"},
      {{"import", "--format", "mm", dir / "c.mtx"}, 2, "scrtool import: --format takes mtx, npy or txt, not 'mm'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const Outcome r = scrtool(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(r.err.starts_with(c.err)) << r.err;
  }
  EXPECT_EQ(slurp(dir / "A.SCR"), slurp(dir / "C.SCR"));
  EXPECT_FALSE(fs::exists(dir / "X.SCR"));
}

// Matrices as public collections ship them: a pattern file (its entries 1.0,
// symmetric honoured), and a file without its banner that holds one
// triangle (mirrored); each with the warning that says so, and no warning
// that the result is not symmetric.
TEST(ScrtoolCli, ImportOfPatternFilesAndOneTriangle) {
  TempDir dir;
  spit(dir / "p.mtx", "%%MatrixMarket matrix coordinate pattern symmetric\n3 3 3\n2 1\n3 2\n3 3\n");
  spit(dir / "t.mtx", "3 3 4\n1 1 4.0\n2 1 -1.5\n3 1 2.0\n3 3 1.0\n");
  const std::string warning = "scrtool import: warning: ";
  const std::pair<std::string, std::string> cases[] = {
      {"p", warning + dir / "p.mtx" +
                ": a pattern matrix, whose entries have no values: each stored entry is taken as 1.0, and so is its "
                "mirror image (symmetric)\n",
       },
      {"t", warning + dir / "t.mtx" + ": no %%MatrixMarket header line; assumed \"%%MatrixMarket matrix coordinate "
                "real general\"\n" + warning + dir / "t.mtx" + ": every off-diagonal entry lies below the diagonal: "
                "read as the lower triangle of a symmetric matrix and mirrored to the other side\n"},
  };
  for (const auto& [name, err] : cases) {
    const Outcome r = scrtool({"import", dir / (name + ".mtx"), "-o", dir / (name + ".SCR")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, err);
  }
  EXPECT_EQ(scrtool({"export", dir / "p.SCR"}).out, "0 1 0\n1 0 1\n0 1 1\n");
  EXPECT_EQ(scrtool({"export", dir / "t.SCR"}).out, "4 -1.5 2\n-1.5 0 0\n2 0 1\n");
}

TEST(ScrtoolCli, UsageErrors) {
  struct Case {
    std::vector<std::string> args;
    const char* err;
  };
  const Case cases[] = {
      {{}, "scrtool: missing command\nTry 'scrtool --help'.\n"},
      {{"convert"}, "scrtool: unknown command 'convert'\nTry 'scrtool --help'.\n"},
      {{"import"}, "scrtool import: missing input file\nTry 'scrtool import --help'.\n"},
      {{"import", "a", "b"}, "scrtool import: unexpected argument 'b'\nTry 'scrtool import --help'.\n"},
      {{"import", "a", "--bigendian"}, "scrtool import: unknown option '--bigendian'\nTry 'scrtool import --help'.\n"},
      {{"import", "a", "-o"}, "scrtool import: option '-o' needs a value\nTry 'scrtool import --help'.\n"},
      {{"import", "a", "-o", "x", "--output=y"}, "scrtool import: option '--output' given twice\n"},
      {{"import", "a", "--big-endian=yes"}, "scrtool import: option '--big-endian' takes no value\n"},
      {{"info"}, "scrtool info: missing A.SCR file\n"},
      {{"gen", "ones"}, "scrtool gen: missing kind and order\n"},
      {{"plot", "-x", "t"}, "scrtool plot: unknown option '-x'\n"},
      {{"plot", "--\x1b[31mx", "t"}, "scrtool plot: unknown option '--\\x1b[31mx'\n"},
      {{"import", "a", "--symmetrize", "\x1b]0;T\x07"},
       "scrtool import: --symmetrize takes lower, upper or average, not '\\x1b]0;T\\x07'\n"},
      {{"compare"}, "scrtool compare: missing results file\n"},
      {{"study", "--blocks", "1,x"},
       "scrtool study: --blocks takes block counts separated by commas, such as 1,2,4,8; 'x' is not a count\n"},
      {{"study", "--blocks", "2,1,2"}, "scrtool study: --blocks names 2 twice\n"},
      {{"study", "--tol", "1e-6,-1"},
       "scrtool study: --tol takes tolerances separated by commas, such as 1e-6,1e-9,1e-12; '-1' is not a tolerance\n"},
      {{"study", "--blocks", "4", "--tol", "1e-6,1e-9", "--max-sweeps", "50,60"},
       "scrtool study: vary one of --blocks, --tol and --max-sweeps at a time\n"},
      {{"study", "a", "b"}, "scrtool study: unexpected argument 'b'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    const Outcome r = scrtool(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.starts_with(c.err)) << r.err;
  }
}

TEST(ScrtoolCli, HelpAndVersion) {
  struct Case {
    std::vector<std::string> args;
    const char* start;
  };
  const Case cases[] = {
      {{"--help"}, "Usage: scrtool COMMAND ARGUMENTS...\n"},
      {{"-h"}, "Usage: scrtool COMMAND ARGUMENTS...\n"},
      {{"help", "gen"}, "Usage: scrtool gen KIND N"},
      {{"import", "--help"}, "Usage: scrtool import IN [-o A.SCR] [--big-endian]\n"},
      {{"export", "-h"}, "Usage: scrtool export A.SCR [-o FILE]\n"},
      {{"info", "--help"}, "Usage: scrtool info A.SCR\n"},
      {{"gen", "--help"}, "Usage: scrtool gen KIND N [--seed S] [-o A.SCR] [--eigenvalues FILE]\n"},
      {{"plot", "t.txt", "--help"}, "Usage: scrtool plot TRANSCRIPT|RESULTS [-o sweeps.svg]\n"},
      {{"compare", "--help"}, "Usage: scrtool compare RESULTS [-o FILE.csv]\n"},
      {{"study", "--help"}, "Usage: scrtool study [--blocks 1,2,4,8] [--tol X,...] [--max-sweeps K,...]\n"},
      {{"--version"}, "scrtool (blockeig) "},
      {{"-V"}, "scrtool (blockeig) "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    const Outcome r = scrtool(c.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.out.starts_with(c.start)) << r.out;
  }
  // Every kind is described in gen's help.
  const std::string gen = scrtool({"gen", "--help"}).out;
  for (const char* kind : {"random", "tridiag", "clement", "wilkinson", "hilbert", "ones", "diagonal", "clustered"})
    EXPECT_NE(gen.find(std::string("  ") + kind + " "), std::string::npos) << kind;
  // The order range the help texts give is the program's own.
  const std::string range = std::to_string(min_order) + " to " + std::to_string(max_order);
  EXPECT_NE(scrtool({"--help"}).out.find("orders " + range + "."), std::string::npos);
  EXPECT_NE(scrtool({"help", "gen"}).out.find("(" + range + ")"), std::string::npos);
}

TEST(ScrtoolCli, GenWritesTheSpectrum) {
  TempDir dir;
  const Outcome r = scrtool({"gen", "clement", "4", "-o", dir / "C.SCR", "--eigenvalues", dir / "ev.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "wrote " + dir / "C.SCR" + ": clement, N = 4\n");
  EXPECT_EQ(slurp(dir / "ev.txt"), "-3\n-1\n1\n3\n");
  EXPECT_EQ(slurp(dir / "C.SCR").size(), 148u);
}

TEST(ScrtoolCli, InfoStatus) {
  TempDir dir;
  ASSERT_EQ(scrtool({"gen", "ones", "3", "-o", dir / "A.SCR"}).status, 0);
  const Outcome good = scrtool({"info", dir / "A.SCR"});
  EXPECT_EQ(good.status, 0);
  EXPECT_NE(good.out.find("order N           3\n"), std::string::npos) << good.out;
  EXPECT_NE(good.out.find("Frobenius norm    3\n"), std::string::npos) << good.out;
  std::string damaged = slurp(dir / "A.SCR");
  damaged.resize(damaged.size() - 3);
  spit(dir / "D.SCR", damaged);
  const Outcome bad = scrtool({"info", dir / "D.SCR"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("blockeig          stops at line 15 with \"Corrupt record in unformatted sequential-access file\"\n"),
            std::string::npos)
      << bad.out;
  EXPECT_EQ(scrtool({"info", dir / "none.SCR"}).status, 2);
}

// The binary itself: default file names in the working directory, exit
// statuses, and the streams used.
std::string scrtool_binary() {
  if (const char* env = std::getenv("SCRTOOL_BIN")) return env;
#ifdef SCRTOOL_BIN
  return SCRTOOL_BIN;
#else
  return (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "scrtool").string();
#endif
}

int shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ScrtoolBinary, EndToEnd) {
  const std::string bin = scrtool_binary();
  ASSERT_TRUE(fs::exists(bin)) << bin;
  TempDir dir;
  const std::string cd = "cd '" + dir.path().string() + "' && '" + bin + "' ";
  EXPECT_EQ(shell(cd + "gen tridiag 6 --eigenvalues ev.txt > out.txt 2> err.txt"), 0);
  EXPECT_EQ(slurp(dir / "out.txt"), "wrote A.SCR: tridiag, N = 6\n");
  EXPECT_EQ(slurp(dir / "err.txt"), "");
  EXPECT_EQ(fs::file_size(dir / "A.SCR"), 20u + 8 * 36);
  EXPECT_EQ(fs::status(dir / "A.SCR").permissions() & fs::perms::owner_read, fs::perms::owner_read);
  EXPECT_EQ(shell(cd + "info A.SCR > out.txt"), 0);
  EXPECT_EQ(shell(cd + "export A.SCR -o a.mtx && '" + bin + "' import a.mtx -o B.SCR > /dev/null && cmp -s A.SCR B.SCR"), 0);
  spit(dir / "bad.txt", "1 2\n3\n");
  EXPECT_EQ(shell(cd + "import bad.txt > out.txt 2> err.txt"), 2);
  EXPECT_EQ(slurp(dir / "out.txt"), "");
  EXPECT_EQ(slurp(dir / "err.txt"), "scrtool import: bad.txt:2: row 2 has 1 numbers, not 2\n");
  EXPECT_EQ(shell(cd + "--help > out.txt"), 0);
  EXPECT_TRUE(slurp(dir / "out.txt").starts_with("Usage: scrtool"));
  EXPECT_EQ(shell(cd + "export A.SCR > /dev/full 2> err.txt"), 2);
  EXPECT_EQ(slurp(dir / "err.txt"), "scrtool: cannot write standard output\n");
}

// The name of a file written is shown as every message shows a name: its
// control bytes as \xNN, so that none acts on the terminal.
TEST(ScrtoolBinary, WrittenNamesAreShownEscaped) {
  TempDir dir;
  spit(dir / "m.txt", "2 1\n1 2\n");
  ASSERT_EQ(scrtool({"gen", "random", "4", "-o", dir / "A.SCR"}).status, 0);
  blockeig::testing::ChildOptions options;
  options.directory = dir.path();
  options.input = "2\n";
  ASSERT_EQ(blockeig::testing::run_child(BLOCKEIG_BIN, {"--results", "r.json"}, options).status, 0);
  options.input = "";
  options.environment = {"BLOCKEIG_PROGRESS=0"};
  struct Case {
    std::vector<std::string> args;
    const char* last_line_start;
  };
  const Case cases[] = {
      {{"gen", "random", "4", "-o", "g\x1b[2J.scr"}, "wrote g\\x1b[2J.scr: random, N = 4"},
      {{"import", "m.txt", "-o", "i\r.scr"}, "wrote i\\x0d.scr: N = 2, "},
      {{"plot", "r.json", "-o", "p\a.svg"}, "wrote p\\x07.svg: "},
      {{"compare", "r.json", "-o", "c\x1b.txt"}, "wrote c\\x1b.txt: "},
      {{"study", "--blocks", "1", "--program", BLOCKEIG_BIN, "-o", "s\x1b]0;x\a.svg"},
       "wrote s\\x1b]0;x\\x07.svg and 1 results file beside it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const auto r = blockeig::testing::run_child(scrtool_binary(), c.args, options);
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(r.out.ends_with("\n")) << r.out;
    const std::size_t last = r.out.rfind('\n', r.out.size() - 2);
    EXPECT_TRUE(r.out.substr(last + 1).starts_with(c.last_line_start)) << r.out;
    EXPECT_EQ(std::count_if(r.out.begin(), r.out.end(), [](char b) { return b != '\n' && (b & 0xe0) == 0; }), 0)
        << r.out;
  }
}

// Input is checked before scrtool waits for it or makes room for it: a
// FIFO with no writer is refused at once, and a file that announces an
// order its data cannot fill is told so within an address-space limit far
// below that order's 1 GB matrix.
TEST(ScrtoolBinary, InputIsCheckedBeforeItIsAwaitedOrHeld) {
  struct Case {
    std::vector<std::string> args;
    const char* err;
  };
  const Case cases[] = {
      {{"import", "fifo"}, "scrtool import: cannot read fifo: it is not a regular file\n"},
      {{"info", "fifo"}, "scrtool info: cannot read fifo: it is not a regular file\n"},
      {{"import", "order.txt"},
       "scrtool import: order.txt:1: the file ends after 0 rows; the matrix is not square (11180 rows announced)\n"},
      {{"import", "array.mtx"}, "scrtool import: array.mtx:2: the file ends before element (1, 1)\n"},
      {{"import", "coordinate.mtx"}, "scrtool import: coordinate.mtx:3: the file ends before entry 2 of 2\n"},
  };
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  spit(dir / "order.txt", "11180\n");
  spit(dir / "array.mtx", "%%MatrixMarket matrix array real general\n11180 11180\n");
  spit(dir / "coordinate.mtx", "%%MatrixMarket matrix coordinate real general\n11180 11180 2\n1 1 1\n");
  blockeig::testing::ChildOptions options;
  options.directory = dir.path();
  options.timeout_seconds = 20;
#ifndef BLOCKEIG_UNDER_ASAN
  if (!blockeig::testing::running_under_valgrind())
    options.before_exec = [] {
      const rlimit limit{256 << 20, 256 << 20};
      ::setrlimit(RLIMIT_AS, &limit);
    };
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const auto r = blockeig::testing::run_child(scrtool_binary(), c.args, options);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"array.mtx", "coordinate.mtx", "fifo", "order.txt"}));
}

}  // namespace
}  // namespace scrtool
