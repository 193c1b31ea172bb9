// The three readers of A.SCR held to each other on one corpus of damaged
// and whole files: the program's (its own reading, run by scrtool's verdict
// in a child process), the library's read_scr and scrtool's framing. Where
// scrtool's framing finds a record that is not whole, the program stops at
// that record's statement with the report its kind of damage calls for and
// the library refuses the file in the same words; where the records are
// whole, all three take the same order and refuse or accept alike, and an
// accepted matrix is the same bits in the library as in scrtool.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <set>
#include <utility>
#include <span>
#include <string>

#include "blockeig/blockeig.hpp"
#include "io/record_format.hpp"
#include "runtime/error_codes.hpp"
#include "runtime/run_constants.hpp"
#include "runtime/statement_numbers.hpp"
#include "support/child_process.hpp"
#include "tools/record_codec.hpp"
#include "tools/scr_file.hpp"
#include "tools/scr_samples.hpp"
#include "tools/scr_verdict.hpp"

namespace scrtool {
namespace {

namespace statement = blockeig::statement;
using blockeig::testing::TempDir;

// Where scrtool's framing says a reader of A.SCR must stop.
struct Stop {
  enum Kind { none, framing, short_record, order } kind = none;
  int record = 0;     // 1 or 2
  RecordFrame frame;  // of that record
  std::int32_t n = 0;
};

Stop where_reading_stops(const ByteSource& file, ByteOrder order) {
  const RecordFrame first = frame_record(file, 0, order);
  if (first.framing != Framing::complete) return {Stop::framing, 1, first};
  if (first.length < 4) return {Stop::short_record, 1, first};
  std::uint8_t bytes[4];
  file.read(first.data_offset(), bytes);
  const std::int32_t n = decode_int32(bytes, order);
  if (n < blockeig::run::min_matrix_order || n > blockeig::io::max_matrix_order) return {Stop::order, 1, first, n};
  const RecordFrame second = frame_record(file, first.next_offset(), order);
  if (second.framing != Framing::complete) return {Stop::framing, 2, second, n};
  if (second.length < 8 * std::int64_t{n} * n) return {Stop::short_record, 2, second, n};
  return {Stop::none, 0, second, n};
}

// The run-time message of the program's report on a damaged record: the
// end of the file, a record longer than the limit, or a corrupt record.
std::string program_message(Framing framing) {
  using namespace blockeig::runtime::error_codes;
  const int code = framing == Framing::end_of_file  ? end_of_file
                   : framing == Framing::over_limit ? read_past_recl
                                                    : corrupt_record;
  return std::string(blockeig::runtime::error_message(code));
}

int statement_of(int record) { return record == 1 ? statement::read_order : statement::read_matrix; }

TEST(RecordReaders, AgreeOnEveryFileOfTheCorpus) {
  TempDir dir;
  const std::string path = (dir / "A.SCR").string();
  std::set<std::pair<int, Framing>> damage;
  int accepted = 0;
  for (const ScrSample& sample : scr_samples()) {
    SCOPED_TRACE(sample.name);
    const ByteOrder order = sample.big ? ByteOrder::big : ByteOrder::little;
    const MemorySource file(std::span(reinterpret_cast<const std::uint8_t*>(sample.file.data()), sample.file.size()));
    blockeig::testing::write_file(path, sample.file);
    const Stop stop = where_reading_stops(file, order);
    const Verdict program = predict_blockeig(file, order);
    std::optional<blockeig::Error> refused;
    blockeig::Matrix read;
    try {
      read = blockeig::read_scr(path, sample.big ? blockeig::ByteOrder::big : blockeig::ByteOrder::little);
    } catch (const blockeig::Error& e) {
      refused = e;
    }

    switch (stop.kind) {
      case Stop::none:
        ++accepted;
        EXPECT_TRUE(program.accepted) << program.report;
        ASSERT_FALSE(refused) << refused->what();
        EXPECT_EQ(read.n, stop.n);
        EXPECT_EQ(std::memcmp(read.elements.data(), read_accepted_scr(file, order).a.data(), 8 * read.elements.size()), 0);
        break;
      case Stop::framing:
        damage.insert({stop.record, stop.frame.framing});
        EXPECT_EQ(program.line, statement_of(stop.record)) << program.report;
        EXPECT_EQ(program.message, program_message(stop.frame.framing));
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->code(), blockeig::Errc::damaged_file);
        EXPECT_EQ(std::string(refused->what()), "blockeig: " + path + ": " + framing_text(stop.frame, stop.record));
        break;
      case Stop::short_record:
        EXPECT_EQ(program.line, statement_of(stop.record)) << program.report;
        EXPECT_EQ(program.message, program_message(Framing::over_limit));
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->code(), blockeig::Errc::damaged_file);
        EXPECT_TRUE(std::string(refused->what()).starts_with("blockeig: " + path + ": record " +
                                                             std::to_string(stop.record) + " holds "))
            << refused->what();
        break;
      case Stop::order:
        EXPECT_FALSE(program.accepted);
        EXPECT_EQ(program.n, stop.n);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->code(), blockeig::Errc::bad_order) << refused->what();
        break;
    }
  }
  // Every kind of damage to either record is in the corpus, and whole files.
  for (const int record : {1, 2})
    for (const Framing framing : {Framing::end_of_file, Framing::partial_marker, Framing::negative_length,
                                  Framing::over_limit, Framing::truncated})
      EXPECT_TRUE(damage.contains({record, framing})) << "record " << record << ", " << static_cast<int>(framing);
  EXPECT_GE(accepted, 4);
}

}  // namespace
}  // namespace scrtool
