// Unformatted sequential records: the file layout, and every damaged file
// with the report it gets.
#include "io/record_file.hpp"

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/frame_probe.hpp"
#include "support/sanitizer.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

std::string be32(std::int32_t v) {
  std::string s = le32(v);
  return {s.rbegin(), s.rend()};
}

std::string record(const std::string& data) { return scr_record(data); }

std::string matrix_data(int n) {
  std::string data;
  for (int i = 1; i <= n * n; ++i) data += le64(i);
  return data;
}


TEST(RecordFile, WritesTheFiftyTwoByteFileAndReadsItBack) {
  TempDir dir;
  ASSERT_EQ(probe(dir, {"write-matrix", "A.SCR", "2"}).status, 0);
  const std::string expected = record(le32(2)) + record(matrix_data(2));
  ASSERT_EQ(expected.size(), 52u);
  EXPECT_EQ(read_file(dir / "A.SCR"), expected);
  EXPECT_EQ(expected.substr(16, 8), std::string("\0\0\0\0\0\0\xF0\x3F", 8));
  const ChildResult r = probe(dir, {"read-matrix", "A.SCR"});
  EXPECT_EQ(r.out, "N = 2\n1\n2\n3\n4\n");
  EXPECT_EQ(r.status, 0);
}

TEST(RecordFile, ByteReversalOnBothSides) {
  TempDir dir;
  ASSERT_EQ(probe(dir, {"write-matrix", "A.SCR", "2"}, {}, {"BLOCKEIG_CONVERT=big_endian"}).status, 0);
  std::string big = be32(4) + be32(2) + be32(4) + be32(32);
  for (int i = 1; i <= 4; ++i) {
    std::string v = le64(i);
    big += std::string(v.rbegin(), v.rend());
  }
  big += be32(32);
  EXPECT_EQ(read_file(dir / "A.SCR"), big);
  for (const char* setting : {"BLOCKEIG_CONVERT=big_endian", "BLOCKEIG_CONVERT=swap"})
    EXPECT_EQ(probe(dir, {"read-matrix", "A.SCR"}, {}, {setting}).out, "N = 2\n1\n2\n3\n4\n");
  write_file(dir / "A.SCR", record(le32(2)) + record(matrix_data(2)));
  EXPECT_EQ(probe(dir, {"read-matrix", "A.SCR"}, {}, {"BLOCKEIG_CONVERT=little_endian"}).out, "N = 2\n1\n2\n3\n4\n");
}

TEST(RecordFile, TolerantReads) {
  struct Case {
    const char* name;
    std::string file;
    std::string out;
  };
  const Case cases[] = {
      {"record 1 longer than N", record(le32(2) + le32(99)) + record(matrix_data(2)), "N = 2\n1\n2\n3\n4\n"},
      {"record 2 longer than the matrix", record(le32(1)) + record(matrix_data(2)), "N = 1\n1\n"},
      {"record 2 longer than the matrix by more than a buffer and part of an element",
       record(le32(1)) + record(le64(5) + std::string(5000, 'x') + "abc"), "N = 1\n5\n"},
      {"trailing marker not compared", le32(4) + le32(1) + le32(77) + record(le64(5)), "N = 1\n5\n"},
      {"records after record 2 ignored", record(le32(1)) + record(le64(5)) + "junk", "N = 1\n5\n"},
      {"an array of no elements consumes an empty record", record(le32(0)) + record(""), "N = 0\n"},
      {"an array of no elements consumes a record of any length", record(le32(0)) + record("abc"), "N = 0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "A.SCR", c.file);
    const ChildResult r = probe(dir, {"read-matrix", "A.SCR"});
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

TEST(RecordFile, DamagedFiles) {
  const std::string eof = "End of file";
  const std::string corrupt = "Corrupt record in unformatted sequential-access file";
  const std::string recl = "Reading more data than the record size (RECL)";
  struct Case {
    const char* name;  // of the damaged file
    int line;
    std::string message;
    std::string out;
  };
  const Case cases[] = {
      {"empty file", 11, eof, ""},
      {"record 1 only", 15, eof, "N = 2\n"},
      {"no record left for an array of no elements", 15, eof, "N = 0\n"},
      {"record 1 too short", 11, recl, ""},
      {"record 2 too short", 15, recl, "N = 2\n"},
      {"record 2 short of the matrix by part of an element", 15, recl, "N = 2\n"},
      {"stray bytes where a marker belongs", 15, corrupt, "N = 2\n"},
      {"file ends inside the data", 15, corrupt, "N = 2\n"},
      {"file ends inside the trailing marker", 15, corrupt, "N = 1\n"},
      {"marker above the record length limit", 11, recl, ""},
      {"negative marker", 11, corrupt, ""},
      {"marker of exactly the limit on a short file", 11, corrupt, ""},
      {"matrix marker near the limit on a short file", 15, corrupt, "N = 2\n"},
  };
  // Under a 256 MB address-space limit: a marker that the file cannot fill
  // is a damaged record, not a buffer of a gigabyte.
  const auto limit_memory = [] {
#ifndef BLOCKEIG_UNDER_ASAN
    const rlimit limit{256u << 20, 256u << 20};
    ::setrlimit(RLIMIT_AS, &limit);
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "A.SCR", damaged_matrix_file(c.name));
    ChildOptions options;
    options.directory = dir.path();
    options.before_exec = limit_memory;
    const ChildResult r = run_child(FRAME_PROBE_BIN, {"read-matrix", "A.SCR"}, options);
    EXPECT_EQ(r.err, "At line " + std::to_string(c.line) + " of file probe.cpp (Unit 8 \"A.SCR\")\n" + traceback +
                         "Fortran runtime error: " + c.message + "\n");
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, 2);
  }
}

TEST(RecordFile, MissingFileIsCreatedEmpty) {
  TempDir dir;
  const ChildResult r = probe(dir, {"read-matrix", "A.SCR"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(std::filesystem::exists(dir / "A.SCR"));
  EXPECT_EQ(read_file(dir / "A.SCR"), "");
}

TEST(RecordBuffer, GrowthRule) {
  constexpr std::int64_t recl = 1'000'000'000;
  struct Case {
    std::int64_t capacity, needed, grown;
  };
  const Case cases[] = {
      {0, 4, 2000},
      {0, 5000, 5000},
      {2000, 2001, 4000},
      {2000, 9000, 9000},
      {500'000'000, 500'000'001, 1'000'000'000},
      {500'000'001, 500'000'002, recl},
      {0, 999'939'200, 999'939'200},
  };
  for (const Case& c : cases) EXPECT_EQ(io::record_buffer_growth(c.capacity, c.needed, recl), c.grown);
}

}  // namespace
}  // namespace blockeig::testing
