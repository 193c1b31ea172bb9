// Checkpoint and resume, judged from outside: a run killed at random moments
// and started again the same way, over and over, ends with the bytes of a
// run never stopped; a checkpoint that does not fit the run, or is damaged,
// ends the run with its reason and stays as it was; a checkpoint that cannot
// be written is reported, at start-up or when it happens.
#include <sys/resource.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <random>
#include <string>
#include <vector>

#include "records/sha256.hpp"
#include "io/record_format.hpp"
#include "support/child_process.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

using nlohmann::json;

constexpr int order = 80;
// A count out of range first: the run answers it and asks again, before
// and after a stop alike.
constexpr const char* answers = "99\n5\n";
constexpr const char* traceback = "Traceback: not available, compile with -ftrace=frame or -ftrace=full\n";

struct Invocation {
  std::vector<std::string> arguments = {};
  std::vector<std::string> environment = {};
  std::string input = answers;
  long kill_after_microseconds = 0;
  std::function<void()> before_exec = {};
};

ChildResult run_in(const TempDir& dir, const Invocation& run) {
  ChildOptions options;
  options.directory = dir.path();
  options.input = run.input;
  options.environment = run.environment;
  options.kill_after_microseconds = run.kill_after_microseconds;
  options.before_exec = run.before_exec;
  return run_child(BLOCKEIG_BIN, run.arguments, options);
}

std::vector<double> matrix(unsigned seed) { return random_symmetric_matrix(order, seed); }

std::string hex_sha256(const std::vector<double>& values) {
  Sha256 sha;
  sha.update({reinterpret_cast<const std::uint8_t*>(values.data()), values.size() * sizeof(double)});
  return hex_digest(sha.finish());
}

// The sweep a checkpoint holds (its ITER), or 0 for none.
int sweep_held(const std::filesystem::path& path) {
  const std::string bytes = read_file(path);
  if (bytes.size() < 76) return 0;
  std::int32_t iter;
  std::memcpy(&iter, bytes.data() + 72, sizeof iter);
  return iter;
}

// A new digest over changed bytes: what a writer of that content would have
// made.
std::string resealed(std::string bytes) {
  Sha256 sha;
  sha.update({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size() - 32});
  const auto digest = sha.finish();
  std::memcpy(bytes.data() + bytes.size() - 32, digest.data(), 32);
  return bytes;
}

// Temporary files of a checkpoint or results file left in the directory.
std::vector<std::string> temporaries_in(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    if (entry.path().filename().string().ends_with(".tmp")) names.push_back(entry.path().filename());
  return names;
}

// The document without its wall-clock times.
json without_times(json document) {
  if (document.is_object()) {
    document.erase("seconds");
    document.erase("results_seconds");
    for (auto& [key, value] : document.items()) value = without_times(value);
  } else if (document.is_array()) {
    for (json& value : document) value = without_times(value);
  }
  return document;
}

// A run stopped (SIGKILL) after it wrote a checkpoint at `path`: the kill
// comes later and later until one finds a checkpoint left.
void stop_a_run(const TempDir& dir, const std::string& path, std::vector<std::string> environment,
                std::vector<std::string> arguments = {}) {
  environment.push_back("BLOCKEIG_CHECKPOINT_SECONDS=0");
  arguments.insert(arguments.end(), {"--checkpoint", path});
  for (long delay = 40'000; delay < 60'000'000; delay *= 2) {
    const ChildResult r = run_in(dir, {arguments, environment, answers, delay});
    if (r.killed && std::filesystem::exists(dir / path)) return;
  }
  FAIL() << "no run was stopped with a checkpoint";
}

// Twenty kills at random moments (in the direct phase, at the prompt, while
// the saved lines are written again, in a sweep, while a checkpoint is
// written), each run started again the same way with another thread count;
// then the run is let finish. Everything a killed run printed is the start
// of the true output, and the finished run prints all of it, writes the
// same C.SCR.TXT and the same results document, and removes its checkpoint.
TEST(Checkpoint, KilledTwentyTimesEndsAsIfNeverStopped) {
  TempDir dir;
  write_file(dir / "A.SCR", scr_file(order, matrix(14)));
  const ChildResult reference = run_in(dir, {{"--results", "reference.json"}, {"BLOCKEIG_THREADS=1"}});
  ASSERT_EQ(reference.status, 0) << reference.err;
  const std::string eigenvalues = read_file(dir / "C.SCR.TXT");
  ASSERT_NE(reference.out.find("\n   50 "), std::string::npos) << "the run should last 50 sweeps or more";
  const ChildResult unstopped =
      run_in(dir, {{"--checkpoint", "ck"}, {"BLOCKEIG_CHECKPOINT_SECONDS=0", "BLOCKEIG_THREADS=2"}});
  EXPECT_EQ(unstopped.out, reference.out);
  EXPECT_EQ(unstopped.err, "");
  EXPECT_EQ(unstopped.status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "ck"));

  // The kills land from halfway through the start of a run (to the prompt,
  // where this one meets the end of its input) to a few sweeps after it, as
  // long as these take on this machine; a resumed run takes longer to start.
  const std::vector<std::string> records = {"--checkpoint", "ck", "--results", "run.json"};
  const double start_up = run_in(dir, {records, {}, ""}).wall_seconds;
  const int sweeps = static_cast<int>(std::count(reference.out.begin(), reference.out.end(), '\n') - 15) / 6;
  const double sweep = std::max(0.0, unstopped.wall_seconds - start_up) / sweeps;
  std::uniform_int_distribution<long> moment(static_cast<long>(start_up * 0.5e6),
                                             static_cast<long>((2 * start_up + 4 * sweep) * 1e6) + 1000);
  std::mt19937 random(14);
  int kills = 0, resumed = 0;
  ChildResult last;
  for (int start = 0; start < 40; ++start) {
    const int threads = 1 + start % 3;
    const long delay = kills < 20 ? moment(random) : 0;
    SCOPED_TRACE("start " + std::to_string(start) + " on " + std::to_string(threads) + " threads, killed after " +
                 std::to_string(delay) + " us");
    if (sweep_held(dir / "ck") > 0) ++resumed;
    last = run_in(dir, {records,
                        {"BLOCKEIG_CHECKPOINT_SECONDS=0", "BLOCKEIG_THREADS=" + std::to_string(threads)},
                        answers,
                        delay});
    if (!last.killed) break;
    ++kills;
    EXPECT_TRUE(reference.out.starts_with(last.out)) << last.out;
    EXPECT_EQ(last.err, "");
  }
  EXPECT_EQ(kills, 20);
  EXPECT_GE(resumed, 5);
  EXPECT_EQ(last.out, reference.out);
  EXPECT_EQ(last.err, "");
  EXPECT_EQ(last.status, 0);
  EXPECT_EQ(read_file(dir / "C.SCR.TXT"), eigenvalues);
  EXPECT_FALSE(std::filesystem::exists(dir / "ck"));
  EXPECT_EQ(temporaries_in(dir), std::vector<std::string>{});
  // The document goes on from the one of the first run that wrote a
  // checkpoint, with the settings of that run.
  json document = json::parse(read_file(dir / "run.json"));
  document["settings"].erase("threads");
  json expected = json::parse(read_file(dir / "reference.json"));
  expected["settings"].erase("threads");
  EXPECT_EQ(without_times(document), without_times(expected));
}

// A run given its own rule keeps it in its checkpoint (format version 2) and
// resumes under it, with the very output and document of a run never
// stopped.
TEST(Checkpoint, ARunOfItsOwnRuleResumesUnderIt) {
  TempDir dir;
  write_file(dir / "A.SCR", scr_file(order, matrix(14)));
  const std::vector<std::string> rule = {"--tol", "1e-9", "--max-sweeps", "40", "--results", "run.json"};
  const ChildResult reference = run_in(dir, {rule});
  ASSERT_EQ(reference.status, 0) << reference.err;
  EXPECT_NE(reference.out.find("\n   40 "), std::string::npos);
  EXPECT_NE(reference.out.find("0.100E-08\n"), std::string::npos);
  const json expected = json::parse(read_file(dir / "run.json"));
  EXPECT_EQ(expected["blocks"]["TOL"], 1e-9);
  EXPECT_EQ(expected["blocks"]["max_sweeps"], 40);
  stop_a_run(dir, "ck", {}, rule);
  EXPECT_EQ(read_file(dir / "ck")[20], 2);
  std::vector<std::string> resumed_with = rule;
  resumed_with.insert(resumed_with.end(), {"--checkpoint", "ck"});
  const ChildResult resumed = run_in(dir, {resumed_with});
  EXPECT_EQ(resumed.out, reference.out);
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  json document = json::parse(read_file(dir / "run.json"));
  EXPECT_EQ(without_times(document), without_times(expected));
}

// Each checkpoint that does not fit the run ends it as soon as that is
// known, names what differs, and leaves every file as it was.
TEST(Checkpoint, AMismatchOrDamageEndsTheRunAndKeepsTheFile) {
  TempDir dir;
  const std::vector<double> own = matrix(14), other = matrix(15);
  write_file(dir / "A.SCR", scr_file(order, own));
  const ChildResult reference = run_in(dir, {});
  stop_a_run(dir, "ck", {});
  const std::string checkpoint = read_file(dir / "ck");
  const std::string eigenvalues = read_file(dir / "C.SCR.TXT");
  const std::string ending = " (the file is left as it is; remove it to start afresh)\n";
  const std::string prompts = reference.out.substr(0, reference.out.find(" block  dimension"));

  struct Case {
    const char* name;
    std::string matrix_file;
    std::string checkpoint;
    Invocation run;
    std::string out;
    std::string problem;
  };
  const std::string own_file = scr_file(order, own);
  std::string newer = checkpoint;
  newer[20] = 3;  // the format version
  std::string flipped = checkpoint;
  flipped[checkpoint.size() / 2] ^= 0x10;
  const Case cases[] = {
      {"another matrix", scr_file(order, other), checkpoint, {}, " N =  80\n allocated\n read\n",
       "was made from another matrix: its SHA-256 is " + hex_sha256(own) + ", A.SCR's is " + hex_sha256(other)},
      {"another order", scr_file(60, random_symmetric_matrix(60, 14)), checkpoint, {},
       " N =  60\n allocated\n read\n", "was made from another matrix: N = 80 there, N = 60 in A.SCR"},
      {"another block count", own_file, checkpoint, {.input = "99\n4\n"}, prompts,
       "was made with 5 blocks, this run has 4"},
      {"another byte order", io::matrix_file_bytes(order, own, true), checkpoint,
       {.environment = {"BLOCKEIG_CONVERT=big_endian"}}, "",
       "was made with BLOCKEIG_CONVERT=native (little-endian), this run has BLOCKEIG_CONVERT=big_endian "
       "(big-endian)"},
      {"another sweep rule", own_file, checkpoint, {.arguments = {"--tol", "1e-9"}}, "",
       "was made with TOL = 1e-06 and at most 101 sweeps, this run has TOL = 1e-09 and at most 101 sweeps (--tol, "
       "--max-sweeps)"},
      {"a results file now", own_file, checkpoint, {.arguments = {"--results", "run.json"}}, "",
       "holds no results file's document, and this run writes one (BLOCKEIG_RESULTS, --results)"},
      {"empty", own_file, "", {}, "", "is empty"},
      {"cut in the header", own_file, checkpoint.substr(0, 40), {}, "",
       "is truncated: it has 40 bytes, fewer than any checkpoint"},
      {"cut short by one byte", own_file, checkpoint.substr(0, checkpoint.size() - 1), {}, "",
       "is truncated: it has " + std::to_string(checkpoint.size() - 1) + " of the " +
           std::to_string(checkpoint.size()) + " bytes its header gives"},
      {"a byte changed", own_file, flipped, {}, "", "is damaged: its checksum does not match its content"},
      {"a newer format", own_file, resealed(newer), {}, "",
       "has format version 3, newer than this blockeig reads (version 2)"},
      {"not a checkpoint", own_file, eigenvalues, {}, "", "is not a blockeig checkpoint"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir / "A.SCR", c.matrix_file);
    write_file(dir / "ck", c.checkpoint);
    Invocation run = c.run;
    run.arguments.insert(run.arguments.end(), {"--checkpoint", "ck"});
    const ChildResult r = run_in(dir, run);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, traceback + ("Fortran runtime error: Checkpoint \"ck\" " + c.problem) + ending);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(dir / "ck"), c.checkpoint);
    EXPECT_EQ(read_file(dir / "C.SCR.TXT"), eigenvalues);
    EXPECT_EQ(temporaries_in(dir), std::vector<std::string>{});
  }

  // A checkpoint made under BLOCKEIG_CONVERT=big_endian, from the same
  // matrix in a big-endian A.SCR, resumed under the default setting.
  write_file(dir / "A.SCR", io::matrix_file_bytes(order, own, true));
  std::filesystem::remove(dir / "ck");
  stop_a_run(dir, "ck", {"BLOCKEIG_CONVERT=big_endian"});
  const std::string big_endian = read_file(dir / "ck");
  write_file(dir / "A.SCR", own_file);
  const ChildResult r = run_in(dir, {{"--checkpoint", "ck"}});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, traceback +
                       std::string("Fortran runtime error: Checkpoint \"ck\" was made with BLOCKEIG_CONVERT=big_endian "
                                   "(big-endian), this run has BLOCKEIG_CONVERT=native (little-endian)") +
                       ending);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(read_file(dir / "ck"), big_endian);

  // The same file resumed as it was made finishes the run.
  write_file(dir / "A.SCR", io::matrix_file_bytes(order, own, true));
  const ChildResult resumed = run_in(dir, {{"--checkpoint", "ck"}, {"BLOCKEIG_CONVERT=swap"}});
  EXPECT_EQ(resumed.out, reference.out);
  EXPECT_EQ(resumed.status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "ck"));
}

// A checkpoint with a sound digest is still input: one whose parts disagree
// with each other or with the rules of a run is refused at start-up as
// damaged, and kept. Each case changes a checkpoint that a stopped run left
// and seals it again, as a writer of that content would.
TEST(Checkpoint, ContentThatDisagreesIsRefused) {
  TempDir dir;
  write_file(dir / "A.SCR", scr_file(order, matrix(14)));
  const std::vector<std::string> records = {"--checkpoint", "ck", "--results", "run.json"};
  stop_a_run(dir, "ck", {"BLOCKEIG_RESULTS=run.json"});
  const std::string original = read_file(dir / "ck");
  const int ITER = sweep_held(dir / "ck");
  const auto field = [&](std::size_t offset) {
    std::uint64_t value = 0;
    std::memcpy(&value, original.data() + offset, sizeof value);
    return value;
  };
  const std::size_t lines_at = 112 + 8 * (order * order + order);
  const std::size_t state_at = lines_at + field(96);
  const std::string lines = original.substr(lines_at, field(96));
  const std::string state = original.substr(state_at, field(104));
  const std::size_t line_end = state.find('\n');
  const std::size_t body_at = line_end + 1 + 8 * order;
  const auto changed = [&](std::size_t offset, const std::string& bytes) {
    std::string copy = original;
    copy.replace(offset, bytes.size(), bytes);
    return resealed(copy);
  };
  const auto as_bytes = [](auto value) { return std::string(reinterpret_cast<const char*>(&value), sizeof value); };
  // The checkpoint with another results state in place of its own.
  const auto with_state = [&](const std::string& first_line, const std::string& body) {
    std::string copy = original.substr(0, state_at) + first_line + "\n" + state.substr(line_end + 1, 8 * order) +
                       body + std::string(32, '\0');
    copy.replace(104, 8, as_bytes(static_cast<std::uint64_t>(copy.size() - 32 - state_at)));
    copy.replace(24, 8, as_bytes(static_cast<std::uint64_t>(copy.size())));
    return resealed(copy);
  };
  // The state's first line with its sweeps and body size replaced.
  const auto state_line = [&](long sweeps, std::size_t body_bytes) {
    std::istringstream words(state.substr(0, line_end));
    std::vector<std::string> w(std::istream_iterator<std::string>{words}, {});
    w[4] = std::to_string(sweeps);
    w[6] = std::to_string(body_bytes);
    std::string line = w[0];
    for (std::size_t k = 1; k < w.size(); ++k) line += " " + w[k];
    return line;
  };
  const std::string body = state.substr(body_at);
  std::size_t last_sweep = body.rfind("\n  {\"ITER\"");
  if (body[last_sweep - 1] == ',') --last_sweep;
  const std::size_t second_line = lines.find('\n') + 1;
  const std::string swapped = lines.substr(second_line, lines.find('\n', second_line) + 1 - second_line) +
                              lines.substr(0, second_line);
  double E1 = 0;
  std::memcpy(&E1, original.data() + 112 + 8 * order * order, sizeof E1);
  const std::string damaged = "is damaged: ";
  const auto lines_problem_at = [&](int iter) {
    return damaged + "its console lines do not fit ITER = " + std::to_string(iter) + " and NBLOCKS = 5";
  };
  const std::string lines_problem = lines_problem_at(ITER);
  const std::string fields_problem = damaged + "its fields are not those of any checkpoint";
  const std::string state_problem = damaged + "its results file's document does not fit ITER = " + std::to_string(ITER);
  const std::pair<const char*, std::pair<std::string, std::string>> cases[] = {
      {"ITER one more than its lines", {changed(72, as_bytes(std::int32_t(ITER + 1))), lines_problem_at(ITER + 1)}},
      {"ITER 100", {changed(72, as_bytes(std::int32_t{100})), lines_problem_at(100)}},
      {"an escape in a console line", {changed(lines_at + 1, "\x1b"), lines_problem}},
      {"a NUL in a console line", {changed(lines_at + 1, std::string(1, '\0')), lines_problem}},
      {"two block lines exchanged", {changed(lines_at, swapped), lines_problem}},
      {"EPREV not its E(1)", {changed(80, as_bytes(std::nextafter(E1, 2 * E1))), damaged + "its EPREV is not its E(1)"}},
      {"an E(1) its last sweep line does not show",
       {resealed(changed(80, as_bytes(1e6)).replace(112 + 8 * order * order, 8, as_bytes(1e6))), lines_problem}},
      {"IERR below 0", {changed(76, as_bytes(std::int32_t{-1})), fields_problem}},
      {"IERR beyond N", {changed(76, as_bytes(std::int32_t{order + 1})), fields_problem}},
      {"a control byte in the results document", {changed(state_at + body_at + body.size() / 2, "\x01"), state_problem}},
      {"a results document cut inside", {with_state(state_line(ITER, body.size() - 9), body.substr(0, body.size() - 9)),
                                         state_problem}},
      {"a results document of a million sweeps",
       {with_state(state_line(1'000'000, body.size()), body), state_problem}},
      {"a results document that goes on after its sweeps",
       {with_state(state_line(ITER, body.size() + 9), body + "], \"x\": ["), state_problem}},
      {"a results document a sweep short",
       {with_state(state_line(ITER, last_sweep), body.substr(0, last_sweep)), state_problem}},
  };
  for (const auto& [name, c] : cases) {
    SCOPED_TRACE(name);
    const auto& [bytes, problem] = c;
    write_file(dir / "ck", bytes);
    const ChildResult r = run_in(dir, {records});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, traceback + ("Fortran runtime error: Checkpoint \"ck\" " + problem) +
                         " (the file is left as it is; remove it to start afresh)\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(dir / "ck"), bytes);
  }
  // The checkpoint as it was still resumes.
  write_file(dir / "ck", original);
  const ChildResult resumed = run_in(dir, {records});
  EXPECT_EQ(resumed.status, 0) << resumed.err;
}

// A checkpoint that cannot be written at start-up stops the run before any
// work; one that cannot be written later (the file may grow no more) is
// warned about once, the run goes on to its normal end with exit status 2,
// and removes the checkpoint it had.
TEST(Checkpoint, FailuresToWriteTheCheckpoint) {
  TempDir dir;
  const std::string matrix_file = scr_file(order, matrix(14));
  write_file(dir / "A.SCR", matrix_file);
  std::filesystem::create_directory(dir / "taken");
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  std::filesystem::create_directory(dir / "read-only");
  std::filesystem::permissions(dir / "read-only", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  ::mkfifo((dir / "fifo").c_str(), 0600);
  std::vector<Case> refused = {
      {{"--checkpoint", "missing/ck"}, "Cannot write checkpoint \"missing/ck\": No such file or directory"},
      {{"--checkpoint", "A.SCR/ck"}, "Cannot write checkpoint \"A.SCR/ck\": Not a directory"},
      {{"--checkpoint", "taken/../A.SCR"}, "Cannot write checkpoint \"taken/../A.SCR\": it would replace the run's own A.SCR"},
      {{"--checkpoint", "C.SCR.TXT"}, "Cannot write checkpoint \"C.SCR.TXT\": it would replace the run's own C.SCR.TXT"},
      {{"--results", "run.json", "--checkpoint", "./run.json"},
       "Cannot write checkpoint \"./run.json\": it is the results file too"},
      {{"--checkpoint", "taken"}, "Cannot write checkpoint \"taken\": it is a directory"},
      {{"--checkpoint", "fifo"}, "Cannot write checkpoint \"fifo\": it is a FIFO, not a regular file"},
  };
  // The superuser writes in a directory without write permission.
  if (::geteuid() != 0)
    refused.push_back({{"--checkpoint", "read-only/ck"}, "Cannot write checkpoint \"read-only/ck\": Permission denied"});
  for (const Case& c : refused) {
    SCOPED_TRACE(c.message);
    const ChildResult r = run_in(dir, {c.arguments});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, traceback + ("Fortran runtime error: " + c.message) + "\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "C.SCR.TXT"));
    EXPECT_FALSE(std::filesystem::exists(dir / "run.json"));
    EXPECT_EQ(read_file(dir / "A.SCR"), matrix_file);
  }

  // Files may grow to `limit` bytes: the checkpoints of the first sweeps
  // fit, a later one, holding more console lines, does not.
  const ChildResult reference = run_in(dir, {});
  const std::size_t table_end = reference.out.find(" 5 16 65 80\n") + 12;
  const std::size_t fixed = 112 + 8 * (order * order + order) + 32;
  const std::size_t limit = fixed + 2000;
  int first_refused = 1;
  for (std::size_t line_end = table_end, lines = 0;; ++lines) {
    line_end = reference.out.find('\n', line_end) + 1;
    if ((lines + 1) % 6 != 0) continue;  // five block lines, then the sweep line
    if (fixed + (line_end - table_end) > limit) break;
    ++first_refused;
  }
  const ChildResult full = run_in(dir, {{"--checkpoint", "ck"}, {"BLOCKEIG_CHECKPOINT_SECONDS=0"}, answers, 0, [limit] {
                                          ::signal(SIGXFSZ, SIG_IGN);
                                          const rlimit size{limit, limit};
                                          ::setrlimit(RLIMIT_FSIZE, &size);
                                        }});
  EXPECT_EQ(full.out, reference.out);
  EXPECT_EQ(full.err, "Fortran runtime warning: Cannot write checkpoint \"ck\" after sweep " +
                          std::to_string(first_refused) + ": File too large (the file holds sweep " +
                          std::to_string(first_refused - 1) + ")\n");
  EXPECT_EQ(full.status, 2);
  EXPECT_FALSE(std::filesystem::exists(dir / "ck"));
  EXPECT_EQ(temporaries_in(dir), std::vector<std::string>{});
}

}  // namespace
}  // namespace blockeig::testing
