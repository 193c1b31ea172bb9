// The checkpoint file in-process: what is written is read back to the bit;
// a file cut at any length, a byte changed anywhere, a file from a
// big-endian machine or a newer format is refused with its own reason; and
// a file changed between its check and its loading is caught.
#include "records/checkpoint_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "records/sha256.hpp"
#include "runtime/replace_file.hpp"
#include "support/child_process.hpp"
#include "support/pieces.hpp"

namespace blockeig::testing {
namespace {

constexpr std::int32_t N = 4;

struct Saved {
  CheckpointFields fields;
  std::vector<double> C, E;
  std::string output, results;
};

Saved sample(std::string results = "results state\n", run::SweepRule rule = {}) {
  Saved saved;
  saved.fields.rule = rule;
  for (std::size_t k = 0; k < 32; ++k) saved.fields.matrix_sha256[k] = static_cast<std::uint8_t>(k * 7);
  saved.fields.N = N;
  saved.fields.NBLOCKS = 2;
  saved.fields.ITER = 3;
  saved.fields.IERR = 1;
  saved.fields.EPREV = -0.0;
  saved.fields.convert = runtime::Convert::swap;
  for (int k = 0; k < N * N; ++k) saved.C.push_back(k % 5 == 0 ? 1.0 / (k + 3) : -5e-324 * k);
  saved.E = {-1.5, std::bit_cast<double>(0x7ff8000000000123u), 1e300, 0.25};
  saved.output = "    1   -1.50        0.250        1.00        2.00    \n";
  saved.results = std::move(results);
  return saved;
}

// The results state as a writer hands it over: its first half in memory,
// the rest in a memory file.
struct StatePieces {
  TextStore rest;
  runtime::Piece pieces[2];
  explicit StatePieces(const Saved& saved) {
    const std::string_view text = saved.results;
    EXPECT_EQ(rest.open(), 0);
    rest.append(text.substr(text.size() / 2));
    EXPECT_EQ(rest.commit(), 0);
    pieces[0] = text.substr(0, text.size() / 2);
    pieces[1] = rest.text();
  }
};

std::string bytes_of(const Saved& saved) {
  const StatePieces state(saved);
  const CheckpointImage image(saved.fields, saved.C.data(), saved.E.data(), std::string_view(saved.output),
                              state.pieces);
  std::string bytes;
  for (const runtime::Piece& piece : image.pieces()) bytes += testing::bytes_of(piece);
  return bytes;
}

// What load_checkpoint takes from a file: C, E, the texts of its two
// stores, and what is wrong.
struct Loaded {
  std::vector<double> C, E;
  std::string output, state, problem;
};

Loaded load(int fd, const CheckpointFields& fields) {
  Loaded loaded{std::vector<double>(N * N), std::vector<double>(N), "", "", ""};
  TextStore output, state;
  EXPECT_EQ(output.open(), 0);
  EXPECT_EQ(state.open(), 0);
  loaded.problem = load_checkpoint(fd, fields, loaded.C.data(), loaded.E.data(), output, state);
  loaded.output = testing::bytes_of(output);
  loaded.state = testing::bytes_of(state);
  return loaded;
}

// A new digest over the changed bytes: what a writer of that content would
// have made.
void reseal(std::string& bytes) {
  Sha256 sha;
  sha.update({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size() - 32});
  const auto digest = sha.finish();
  std::memcpy(bytes.data() + bytes.size() - 32, digest.data(), 32);
}

template <typename T>
void put(std::string& bytes, std::size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

std::string check_file(const std::filesystem::path& path, CheckpointFields& fields) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0) << path;
  std::string problem = check_checkpoint(fd, fields);
  ::close(fd);
  return problem;
}

std::string check_bytes_in_place(const TempDir& dir) {
  CheckpointFields fields;
  return check_file(dir / "ck", fields);
}

std::string check_bytes(const TempDir& dir, const std::string& bytes) {
  write_file(dir / "ck", bytes);
  return check_bytes_in_place(dir);
}

// Version 1 for the program's rule, version 2 (16 bytes more) for another.
TEST(CheckpointFile, ReadBackToTheBit) {
  TempDir dir;
  const run::SweepRule other{1e-9, 50};
  for (const auto& [results, rule] : {std::pair{std::string("results state\n"), run::SweepRule()},
                                      {std::string(), run::SweepRule()}, {std::string("state\n"), other}}) {
    const Saved saved = sample(results, rule);
    const StatePieces pieces(saved);
    const CheckpointImage image(saved.fields, saved.C.data(), saved.E.data(), std::string_view(saved.output),
                                pieces.pieces);
    ASSERT_EQ(runtime::FileReplacement((dir / "ck").string()).replace(image.pieces()), 0);
    EXPECT_EQ(std::filesystem::file_size(dir / "ck"),
              checkpoint_header_size + (rule.is_default() ? 0 : 16) + 8 * (N * N + N) + saved.output.size() +
                  saved.results.size() + 32);

    const int fd = ::open((dir / "ck").c_str(), O_RDONLY);
    CheckpointFields fields;
    ASSERT_EQ(check_checkpoint(fd, fields), "");
    EXPECT_EQ(fields.matrix_sha256, saved.fields.matrix_sha256);
    EXPECT_EQ(fields.N, N);
    EXPECT_EQ(fields.NBLOCKS, 2);
    EXPECT_EQ(fields.ITER, 3);
    EXPECT_EQ(fields.IERR, 1);
    EXPECT_TRUE(std::signbit(fields.EPREV));
    EXPECT_EQ(fields.convert, runtime::Convert::swap);
    EXPECT_EQ(fields.output_bytes, saved.output.size());
    EXPECT_EQ(fields.results_bytes, saved.results.size());
    EXPECT_EQ(fields.rule.TOL, rule.TOL);
    EXPECT_EQ(fields.rule.max_sweeps, rule.max_sweeps);

    const Loaded loaded = load(fd, fields);
    ASSERT_EQ(loaded.problem, "");
    ::close(fd);
    const auto bits = [](const std::vector<double>& v) {
      std::vector<std::uint64_t> b;
      for (double x : v) b.push_back(std::bit_cast<std::uint64_t>(x));
      return b;
    };
    EXPECT_EQ(bits(loaded.C), bits(saved.C));
    EXPECT_EQ(bits(loaded.E), bits(saved.E));
    EXPECT_EQ(loaded.output, saved.output);
    EXPECT_EQ(loaded.state, saved.results);
  }
}

TEST(CheckpointFile, CutAtEveryLength) {
  TempDir dir;
  const std::string whole = bytes_of(sample());
  for (std::size_t length = 0; length < whole.size(); ++length) {
    SCOPED_TRACE(length);
    const std::string expected =
        length == 0  ? "is empty"
        : length < 64 ? "is truncated: it has " + std::to_string(length) + " bytes, fewer than any checkpoint"
                      : "is truncated: it has " + std::to_string(length) + " of the " + std::to_string(whole.size()) +
                            " bytes its header gives";
    EXPECT_EQ(check_bytes(dir, whole.substr(0, length)), expected);
  }
}

TEST(CheckpointFile, EveryChangedByteIsFound) {
  TempDir dir;
  const std::string whole = bytes_of(sample());
  for (std::size_t offset = 0; offset < whole.size(); ++offset) {
    SCOPED_TRACE(offset);
    std::string changed = whole;
    changed[offset] = static_cast<char>(changed[offset] ^ 0x20);
    const std::string problem = check_bytes(dir, changed);
    if (offset < 16) {
      EXPECT_EQ(problem, "is not a blockeig checkpoint");
    } else if (offset < 20) {
      EXPECT_EQ(problem, "is damaged: its byte-order mark is neither little- nor big-endian");
    } else if (offset >= 24 && offset < 32) {
      // The file's size as its header gives it: more than there is reads
      // as a cut file, less as a damaged one.
      EXPECT_TRUE(problem.starts_with("is truncated: it has ") ||
                  (problem.starts_with("is damaged: it has ") && problem.ends_with(" its header gives")))
          << problem;
    } else if (offset >= 64 && offset < checkpoint_header_size) {
      // A field: found before the digest when no checkpoint holds it.
      EXPECT_TRUE(problem == "is damaged: its checksum does not match its content" ||
                  problem == "is damaged: its fields are not those of any checkpoint")
          << problem;
    } else {
      EXPECT_EQ(problem, "is damaged: its checksum does not match its content");
    }
  }
  EXPECT_EQ(check_bytes(dir, whole + '\n'), "is damaged: it has " + std::to_string(whole.size() + 1) +
                                                " bytes, more than the " + std::to_string(whole.size()) +
                                                " its header gives");
}

// The bytes this process has read so far, as the kernel counts them.
std::uint64_t bytes_read_so_far() {
  const std::string io = read_file("/proc/self/io");
  return std::stoull(io.substr(io.find("rchar: ") + 7));
}

// A file whose size is not the one its header gives is refused before its
// content is read: a sparse file of 256 MB behind a sound header costs a
// few bytes, not a digest of the whole.
TEST(CheckpointFile, SizeIsCheckedBeforeTheContentIsRead) {
  TempDir dir;
  const std::string whole = bytes_of(sample());
  const std::uint64_t sparse = std::uint64_t{256} << 20;
  struct Case {
    const char* name;
    std::uint64_t size;
    std::string problem;
  };
  const Case cases[] = {
      {"longer than its header gives", sparse,
       "is damaged: it has " + std::to_string(sparse) + " bytes, more than the " + std::to_string(whole.size()) +
           " its header gives"},
      {"shorter than its header gives", whole.size() - 1,
       "is truncated: it has " + std::to_string(whole.size() - 1) + " of the " + std::to_string(whole.size()) +
           " bytes its header gives"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir / "ck", whole);
    ASSERT_EQ(::truncate((dir / "ck").c_str(), static_cast<off_t>(c.size)), 0);
    const std::uint64_t before = bytes_read_so_far();
    EXPECT_EQ(check_bytes_in_place(dir), c.problem);
    EXPECT_LT(bytes_read_so_far() - before, 64u << 10);
  }
}

// A file whose header announces its own (sparse) size but whose fields no
// run writes, or which does not fit the run, is refused before its digest
// is computed: a few bytes read, whatever its size.
TEST(CheckpointFile, FieldsNoRunWritesAreRefusedBeforeTheDigest) {
  TempDir dir;
  const Saved s = sample();
  const std::string whole = bytes_of(s);
  const std::uint64_t rest = whole.size() - s.output.size() - s.results.size();
  const std::uint64_t large = std::uint64_t{256} << 20, huge = std::uint64_t{4} << 30;
  const char* const unsound = "is damaged: its fields are not those of any checkpoint";
  struct Case {
    const char* name;
    std::uint64_t size;
    std::uint32_t version;
    std::uint64_t output_bytes, results_bytes;
    std::string problem;
  };
  const Case cases[] = {
      {"sections that do not add up to it", large, 1, s.output.size(), s.results.size(), unsound},
      {"a results state no run writes", large, 1, s.output.size(), large - rest - s.output.size(), unsound},
      {"console lines no run prints", large, 1, large - rest - s.results.size(), s.results.size(), unsound},
      {"4 GiB of a newer format", huge, checkpoint_format_version + 1, s.output.size(), s.results.size(),
       "has format version " + std::to_string(checkpoint_format_version + 1) +
           ", newer than this blockeig reads (version " + std::to_string(checkpoint_format_version) + ")"},
      {"4 GiB in another format", huge, 0, s.output.size(), s.results.size(), unsound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = whole;
    put(bytes, 20, c.version);
    put(bytes, 24, c.size);
    put(bytes, 96, c.output_bytes);
    put(bytes, 104, c.results_bytes);
    write_file(dir / "ck", bytes);
    ASSERT_EQ(::truncate((dir / "ck").c_str(), static_cast<off_t>(c.size)), 0);
    const std::uint64_t before = bytes_read_so_far();
    EXPECT_EQ(check_bytes_in_place(dir), c.problem);
    EXPECT_LT(bytes_read_so_far() - before, 64u << 10);
  }
  // What the run knows at start-up is asked before the digest too: a file
  // whose content is damaged is refused for not fitting the run.
  std::string damaged = whole;
  damaged[checkpoint_header_size + 3] ^= 1;
  write_file(dir / "ck", damaged);
  const int fd = ::open((dir / "ck").c_str(), O_RDONLY);
  CheckpointFields fields;
  EXPECT_EQ(check_checkpoint(fd, fields, [](const CheckpointFields& f) { return "was made with " + std::to_string(f.N); }),
            "was made with 4");
  EXPECT_EQ(check_checkpoint(fd, fields, [](const CheckpointFields&) { return std::string(); }),
            "is damaged: its checksum does not match its content");
  ::close(fd);
}

// Files that are whole, with a sound digest, that this program still does
// not take.
TEST(CheckpointFile, RefusedWithTheirReason) {
  TempDir dir;
  const std::string whole = bytes_of(sample());
  struct Case {
    const char* name;
    void (*change)(std::string&);
    const char* problem;
  };
  const char* const unsound = "is damaged: its fields are not those of any checkpoint";
  const Case cases[] = {
      {"big-endian", [](std::string& b) { put(b, 16, std::uint32_t{0x04030201}); },
       "was written in big-endian byte order, which this blockeig (little-endian) does not read"},
      {"newer format", [](std::string& b) { put(b, 20, std::uint32_t{3}); },
       "has format version 3, newer than this blockeig reads (version 2)"},
      {"version 2 without its rule", [](std::string& b) { put(b, 20, std::uint32_t{2}); }, unsound},
      {"format 0", [](std::string& b) { put(b, 20, std::uint32_t{0}); }, unsound},
      {"N = 1", [](std::string& b) { put(b, 64, std::int32_t{1}); }, unsound},
      {"more blocks than N/2", [](std::string& b) { put(b, 68, std::int32_t{3}); }, unsound},
      {"no blocks", [](std::string& b) { put(b, 68, std::int32_t{0}); }, unsound},
      {"ITER 0", [](std::string& b) { put(b, 72, std::int32_t{0}); }, unsound},
      {"ITER 101, the last sweep", [](std::string& b) { put(b, 72, std::int32_t{101}); }, unsound},
      {"no byte order", [](std::string& b) { put(b, 88, std::int32_t{4}); }, unsound},
      {"reserved", [](std::string& b) { put(b, 92, std::int32_t{1}); }, unsound},
      {"more console lines than fit", [](std::string& b) { put(b, 96, std::uint64_t{1} << 40); }, unsound},
      {"sizes whose sum wraps around to the right one",
       [](std::string& b) {
         const Saved s = sample();
         put(b, 96, std::uint64_t{0} - 8);
         put(b, 104, std::uint64_t{s.output.size() + s.results.size() + 8});
       },
       unsound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = whole;
    c.change(bytes);
    reseal(bytes);
    EXPECT_EQ(check_bytes(dir, bytes), c.problem);
  }
  // Version 2 holds a rule of its own, and ITER below its limit.
  const std::string other = bytes_of(sample("", {1e-9, 50}));
  for (const auto& [name, offset, value] : {std::tuple{"the program's rule", 112, 1e-6}, {"no rule", 112, 0.0}}) {
    SCOPED_TRACE(name);
    std::string bytes = other;
    put(bytes, static_cast<std::size_t>(offset), value);
    if (value != 0) put(bytes, 120, run::max_sweeps);
    reseal(bytes);
    EXPECT_EQ(check_bytes(dir, bytes), unsound);
  }
  std::string at_limit = other;
  put(at_limit, 72, std::int32_t{50});
  reseal(at_limit);
  EXPECT_EQ(check_bytes(dir, at_limit), unsound);
  EXPECT_EQ(check_bytes(dir, "N = 4\n"), "is not a blockeig checkpoint");
  CheckpointFields fields;
  EXPECT_EQ(check_file(dir.path(), fields), "is not a regular file");
}

// Between the check at start-up and the loading before the first sweep the
// file must stay what it was.
TEST(CheckpointFile, ChangeAfterTheCheckIsCaught) {
  TempDir dir;
  Saved later = sample();
  later.fields.ITER = 4;
  const std::string changes[] = {bytes_of(later), bytes_of(sample()).substr(0, 200),
                                 [] {
                                   std::string b = bytes_of(sample());
                                   b[130] ^= 1;  // in C
                                   return b;
                                 }()};
  for (const std::string& changed : changes) {
    write_file(dir / "ck", bytes_of(sample()));
    const int fd = ::open((dir / "ck").c_str(), O_RDWR);
    CheckpointFields fields;
    ASSERT_EQ(check_checkpoint(fd, fields), "");
    ASSERT_EQ(::ftruncate(fd, 0), 0);
    ASSERT_EQ(::pwrite(fd, changed.data(), changed.size(), 0), static_cast<ssize_t>(changed.size()));
    EXPECT_EQ(load(fd, fields).problem, "has changed since the run began");
    ::close(fd);
  }
}

}  // namespace
}  // namespace blockeig::testing
