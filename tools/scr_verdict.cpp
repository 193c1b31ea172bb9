#include "tools/scr_verdict.hpp"

#include <array>
#include <string>

#include "runtime/error_codes.hpp"
#include "tools/matrix.hpp"

namespace scrtool {

namespace {

using blockeig::runtime::corrupt_record;
using blockeig::runtime::end_of_file;
using blockeig::runtime::read_past_recl;

std::string num(std::int64_t value) { return std::to_string(value); }

Verdict failure(int line, int code, std::string reason) {
  Verdict v;
  v.line = line;
  v.code = code;
  v.exit_status = 2;
  v.message = std::string(blockeig::runtime::error_message(code));
  v.reason = std::move(reason);
  return v;
}

// The failure of a READ statement at `line` whose record `number` did not
// frame completely.
Verdict framing_failure(const RecordFrame& frame, int number, int line) {
  const std::string record = "record " + num(number);
  const std::string at = " at byte " + num(frame.offset);
  switch (frame.framing) {
    case Framing::end_of_file:
      return failure(line, end_of_file,
                     number == 1 ? std::string("the file is empty") : "the file holds record 1 only");
    case Framing::partial_marker:
      return failure(line, corrupt_record,
                     "only " + num(frame.available) + " byte(s) remain" + at +
                         " where the length marker of " + record + " belongs");
    case Framing::negative_length:
      return failure(line, corrupt_record,
                     "the length marker of " + record + at + " is negative (" + num(frame.length) + ")");
    case Framing::over_limit:
      return failure(line, read_past_recl,
                     "the length marker of " + record + at + " (" + num(frame.length) +
                         ") is above the record length limit 1000000000");
    case Framing::truncated:
      return failure(line, corrupt_record,
                     "the file ends inside " + record + ": its marker" + at + " announces " +
                         num(frame.length) + " data bytes, but only " + num(frame.available - 4) +
                         " bytes follow the marker (" + num(frame.length) + " + 4 needed)");
    case Framing::complete:
      break;
  }
  return {};
}

}  // namespace

Verdict predict_blockeig(const ByteSource& file, ByteOrder order) {
  const RecordFrame first = frame_record(file, 0, order);
  if (first.framing != Framing::complete) return framing_failure(first, 1, line_read_order);
  if (first.length < 4)
    return failure(line_read_order, read_past_recl,
                   "record 1 holds " + num(first.length) + " data bytes, too few for N (4)");

  std::array<std::uint8_t, 4> order_bytes{};
  file.read(first.data_offset(), order_bytes);
  const std::int32_t n = decode_int32(order_bytes.data(), order);
  if (n < min_order) {
    Verdict v;
    v.exit_status = 2;
    v.reason = "record 1 gives the order N = " + num(n);
    v.message = "the order is below 2";
    v.n = n;
    return v;
  }
  const std::uint64_t matrix_bytes = 8u * static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n);
  if (matrix_bytes > max_allocation_bytes) {
    Verdict v;
    v.line = line_allocate;
    v.exit_status = 1;
    v.message = "Memory allocation failed";
    v.reason = "N = " + num(n) + " makes the matrix " + std::to_string(matrix_bytes) +
               " bytes, above the allocation limit 4294967295";
    v.n = n;
    return v;
  }

  const RecordFrame second = frame_record(file, first.next_offset(), order);
  Verdict v;
  if (second.framing != Framing::complete) {
    v = framing_failure(second, 2, line_read_matrix);
  } else if (static_cast<std::uint64_t>(second.length) < matrix_bytes) {
    v = failure(line_read_matrix, read_past_recl,
                "record 2 holds " + num(second.length) + " data bytes; N = " + num(n) + " needs " +
                    std::to_string(matrix_bytes));
  } else {
    v.accepted = true;
  }
  v.n = n;
  return v;
}

std::string verdict_outcome(const Verdict& verdict) {
  if (verdict.accepted) return "accepts it";
  if (verdict.line == 0) return "refuses it: " + verdict.message;
  std::string text = "stops at line " + std::to_string(verdict.line) + " with \"" + verdict.message + "\"";
  if (verdict.exit_status != 2) text += " (exit status " + std::to_string(verdict.exit_status) + ")";
  return text;
}

std::string verdict_text(const Verdict& verdict) {
  if (verdict.accepted) return "blockeig accepts it";
  return verdict.reason + "; blockeig " + verdict_outcome(verdict);
}

}  // namespace scrtool
