#include "tools/scr_inspect.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tools/scr_file.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {
namespace {

Bytes marker(std::int32_t length) {
  Bytes out(4);
  encode_int32(length, ByteOrder::little, out.data());
  return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes zeros(std::size_t count) { return Bytes(count, 0); }

Bytes identity_file(std::int32_t n) {
  Matrix m(n);
  for (std::int32_t i = 1; i <= n; ++i) m(i, i) = 1.0;
  return encode_scr(m, ByteOrder::little);
}

// Each damaged file with the statement line and the message blockeig stops
// with, and what the reason says.
TEST(ScrVerdict, DamagedFiles) {
  const Bytes good = identity_file(2);
  const std::string corrupt = "Corrupt record in unformatted sequential-access file";
  const std::string past_recl = "Reading more data than the record size (RECL)";
  struct Case {
    const char* name;
    Bytes file;
    int line;
    std::string message;
    const char* reason_part;
  };
  const Case cases[] = {
      {"empty", {}, 11, "End of file", "the file is empty"},
      {"two bytes", zeros(2), 11, corrupt, "only 2 byte(s)"},
      {"record 1 truncated", Bytes(good.begin(), good.begin() + 6), 11, corrupt, "ends inside record 1"},
      {"negative marker", join({marker(-4), zeros(12)}), 11, corrupt, "is negative (-4)"},
      {"marker above the limit", join({marker(1'000'000'001), zeros(8)}), 11, past_recl,
       "above the record length limit 1000000000"},
      {"record 1 too short", join({marker(2), zeros(2), marker(2)}), 11, past_recl, "too few for N"},
      {"order 1", join({marker(4), marker(1), marker(4)}), 11,
       "Matrix order N = 1 in A.SCR is too small: blockeig needs N of 2 or more", "gives the order N = 1"},
      {"order -5", join({marker(4), marker(-5), marker(4)}), 11,
       "Matrix order N = -5 in A.SCR is too small: blockeig needs N of 2 or more", "gives the order N = -5"},
      {"record 1 only", Bytes(good.begin(), good.begin() + 12), 15, "End of file", "record 1 only"},
      {"record 2 short", join({marker(4), marker(2), marker(4), marker(24), zeros(24), marker(24)}), 15, past_recl,
       "record 2 holds 24 data bytes; N = 2 needs 32"},
      {"record 2 truncated", Bytes(good.begin(), good.end() - 1), 15, corrupt, "ends inside record 2"},
      {"partial marker after record 1", join({Bytes(good.begin(), good.begin() + 12), zeros(3)}), 15, corrupt,
       "where the length marker of record 2"},
      {"order 11181", join({marker(4), marker(11181), marker(4), marker(1'000'118'088)}), 15, past_recl,
       "above the record length limit"},
      {"order 23171", join({marker(4), marker(23171), marker(4)}), 13, "Memory allocation failed",
       "4295161928 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Verdict v = predict_blockeig(MemorySource(c.file), ByteOrder::little);
    EXPECT_FALSE(v.accepted);
    EXPECT_EQ(v.line, c.line);
    EXPECT_EQ(v.message, c.message);
    EXPECT_NE(v.reason.find(c.reason_part), std::string::npos) << v.reason;
    EXPECT_EQ(v.exit_status, c.line == 13 ? 1 : 2);
  }
}

// What blockeig tolerates: longer records, a differing trailing marker, more records.
TEST(ScrVerdict, ToleratedOddities) {
  const Bytes file = join({marker(8), marker(2), zeros(4), marker(8),  // record 1 with 4 extra bytes
                           marker(40), zeros(40), marker(41),          // record 2 with 8 extra bytes, odd trailer
                           marker(0), marker(0), zeros(2)});           // an empty record 3, then 2 stray bytes
  const Verdict v = predict_blockeig(MemorySource(file), ByteOrder::little);
  EXPECT_TRUE(v.accepted);
  EXPECT_EQ(v.n, 2);
  const Inspection in = inspect_scr(MemorySource(file));
  const std::string report = render_inspection(in, "A.SCR");
  for (const char* part : {"record 1 holds 8 data bytes; blockeig reads the first 4",
                           "record 2 holds 8 bytes beyond the matrix",
                           "trailing marker of record 2 reads 41, not 40",
                           "1 further record(s) follow the matrix",
                           "2 byte(s) from byte 72 do not form a record", "blockeig          accepts it"})
    EXPECT_NE(report.find(part), std::string::npos) << part << "\n" << report;
}

TEST(ScrInspect, MeasuresTheMatrix) {
  Matrix m(3);
  m.a = {1, 2, 3,  //
         2.5, 4, std::numeric_limits<double>::quiet_NaN(),  //
         3, 0, std::numeric_limits<double>::infinity()};
  const MatrixFacts f = measure(m);
  EXPECT_EQ(f.asymmetry.differing, 2);
  EXPECT_EQ(f.nan_count, 1);
  EXPECT_EQ(f.infinite_count, 1);
  EXPECT_DOUBLE_EQ(f.frobenius, std::sqrt(1 + 4 + 9 + 6.25 + 16 + 9 + 0.0));

  Matrix huge(2);
  huge.a = {1e300, 1e300, 1e300, 1e300};
  EXPECT_DOUBLE_EQ(measure(huge).frobenius, 2e300);
}

TEST(ScrInspect, ReportOfAGoodFile) {
  Matrix m(2);
  m.a = {3, 4, 4, 0};
  const Bytes file = encode_scr(m, ByteOrder::little);
  const Inspection in = inspect_scr(MemorySource(file));
  EXPECT_EQ(render_inspection(in, "A.SCR"),
            "file              A.SCR, 52 bytes\n"
            "byte order        little-endian\n"
            "record 1          4 data bytes\n"
            "record 2          32 data bytes\n"
            "order N           2\n"
            "largest |A-A^T|   0\n"
            "Frobenius norm    6.4031242374328485\n"
            "non-finite        0\n"
            "blockeig          accepts it\n");
}

// blockeig reads a matrix that is not symmetric; info says so in its verdict
// and names what each phase then uses, in either byte order.
TEST(ScrInspect, VerdictOnAMatrixThatIsNotSymmetric) {
  Matrix m(3);
  m.a = {1, 2, 3, 2.5, 4, 0, 3, 7, 0};
  for (const ByteOrder order : {ByteOrder::little, ByteOrder::big}) {
    const std::string report = render_inspection(inspect_scr(MemorySource(encode_scr(m, order))), "A.SCR");
    EXPECT_NE(report.find("largest |A-A^T|   7 at A(3,2) = 0, A(2,3) = 7 (2 of 3 pairs differ)\n"), std::string::npos)
        << report;
    EXPECT_NE(report.find(" accepts it, but A is not symmetric: its direct solve will use the lower triangle and "
                          "the diagonal, its block sweeps all of A\n"),
              std::string::npos)
        << report;
  }
  const std::string symmetric = render_inspection(inspect_scr(MemorySource(identity_file(3))), "A.SCR");
  EXPECT_NE(symmetric.find("largest |A-A^T|   0\n"), std::string::npos) << symmetric;
  EXPECT_EQ(symmetric.find("not symmetric"), std::string::npos) << symmetric;
}

TEST(ScrInspect, BigEndianFileNeedsByteReversal) {
  const Bytes file = encode_scr(Matrix(4), ByteOrder::big);
  const Inspection in = inspect_scr(MemorySource(file));
  EXPECT_EQ(in.order.order, ByteOrder::big);
  EXPECT_FALSE(in.as_is.accepted);
  EXPECT_EQ(in.as_is.line, 11);
  EXPECT_EQ(in.as_is.message, "Corrupt record in unformatted sequential-access file");
  ASSERT_TRUE(in.reversed.has_value());
  EXPECT_TRUE(in.reversed->accepted);
  ASSERT_TRUE(in.n.has_value());
  EXPECT_EQ(*in.n, 4);
  const std::string report = render_inspection(in, "B.SCR");
  EXPECT_NE(report.find("byte order        big-endian\n"), std::string::npos) << report;
  EXPECT_NE(report.find("BLOCKEIG_CONVERT=big_endian accepts it\n"), std::string::npos) << report;
}

TEST(ScrFile, ReadRefusesWhatBlockeigRefuses) {
  const Bytes good = identity_file(3);
  try {
    read_scr(MemorySource(Bytes(good.begin(), good.end() - 10)), ByteOrder::little);
    FAIL() << "no error";
  } catch (const ToolError& e) {
    EXPECT_NE(std::string(e.what()).find("blockeig stops at line 15 with \"Corrupt record"), std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace scrtool
