#include "tools/scr_inspect.hpp"

#include <charconv>
#include <cmath>

namespace scrtool {

namespace {

std::string num(std::int64_t value) { return std::to_string(value); }

std::string shortest(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string order_name(ByteOrder order) {
  return order == ByteOrder::little ? "little-endian" : "big-endian";
}

// Notes on what blockeig reads past without a word: extra bytes in records
// 1 and 2, trailing markers it never compares, anything after record 2.
void add_tolerated_notes(Inspection& in) {
  const auto& frames = in.frames;
  for (std::size_t k = 0; k < frames.size() && k < 2; ++k)
    if (frames[k].framing == Framing::complete && !frames[k].trailing_matches())
      in.notes.push_back("the trailing marker of record " + num(k + 1) + " reads " +
                         num(frames[k].trailing) + ", not " + num(frames[k].length) +
                         "; blockeig does not compare them");
  if (!frames.empty() && frames[0].framing == Framing::complete && frames[0].length > 4)
    in.notes.push_back("record 1 holds " + num(frames[0].length) +
                       " data bytes; blockeig reads the first 4 and skips the rest");
  if (!in.facts || frames.size() < 2) return;
  const std::int64_t matrix_bytes = 8 * std::int64_t{*in.n} * *in.n;
  if (frames[1].length > matrix_bytes)
    in.notes.push_back("record 2 holds " + num(frames[1].length - matrix_bytes) +
                       " bytes beyond the matrix; blockeig ignores them");
  std::int64_t further = 0;
  for (std::size_t k = 2; k < frames.size(); ++k)
    if (frames[k].framing == Framing::complete) ++further;
  if (further > 0)
    in.notes.push_back(num(further) + (frames.size() > 64 ? " or more" : "") +
                       " further record(s) follow the matrix; blockeig never reads them");
  const RecordFrame& last = frames.back();
  if (frames.size() > 2 && last.framing != Framing::complete && last.framing != Framing::end_of_file)
    in.notes.push_back(num(last.available) + " byte(s) from byte " + num(last.offset) +
                       " do not form a record; blockeig never reads them");
}

void add_matrix_notes(Inspection& in) {
  const MatrixFacts& f = *in.facts;
  if (f.nan_count + f.infinite_count > 0)
    in.notes.push_back("the matrix holds " + num(f.nan_count) + " NaN and " + num(f.infinite_count) +
                       " infinite element(s); blockeig reads them and its results will not be finite");
  if (!f.bitwise_symmetric)
    in.notes.push_back("A is not symmetric: blockeig's direct solve reads its lower triangle only, "
                       "the block sweeps read all of A");
}

}  // namespace

MatrixFacts measure(const Matrix& m) {
  MatrixFacts f;
  // Squares of doubles cannot overflow the extended type's exponent range.
  long double sum = 0;
  for (std::int64_t j = 1; j <= m.n; ++j) {
    for (std::int64_t i = 1; i <= m.n; ++i) {
      const double x = m(i, j);
      if (std::isnan(x)) {
        ++f.nan_count;
      } else if (std::isinf(x)) {
        ++f.infinite_count;
      } else {
        sum += static_cast<long double>(x) * static_cast<long double>(x);
      }
      if (i <= j) continue;
      const double y = m(j, i);
      if (std::bit_cast<std::uint64_t>(x) != std::bit_cast<std::uint64_t>(y)) f.bitwise_symmetric = false;
      if (std::isfinite(x) && std::isfinite(y)) {
        const double d = std::fabs(static_cast<double>(static_cast<long double>(x) - static_cast<long double>(y)));
        if (d > f.max_asymmetry) f.max_asymmetry = d;
      }
    }
  }
  f.frobenius = static_cast<double>(std::sqrt(sum));
  return f;
}

Inspection inspect_scr(const ByteSource& file) {
  Inspection in;
  in.file_size = file.size();
  in.order = detect_byte_order(file);
  in.frames = frame_records(file, in.order.order);
  in.as_is = predict_blockeig(file, ByteOrder::little);
  const Verdict in_order = in.order.order == ByteOrder::little ? in.as_is : predict_blockeig(file, ByteOrder::big);
  if (in.order.order == ByteOrder::big) in.reversed = in_order;
  if (!in.frames.empty() && in.frames[0].framing == Framing::complete && in.frames[0].length >= 4)
    in.n = in_order.n;
  if (in_order.accepted) {
    in.facts = measure(read_accepted_scr(file, in.order.order));
    add_matrix_notes(in);
  }
  add_tolerated_notes(in);
  return in;
}

std::string render_inspection(const Inspection& in, std::string_view name) {
  std::string out;
  const auto row = [&out](std::string_view label, const std::string& value) {
    out += label;
    out.append(label.size() < 18 ? 18 - label.size() : 1, ' ');
    out += value;
    out += '\n';
  };
  row("file", std::string(name) + ", " + num(in.file_size) + " bytes");
  row("byte order", in.order.certain ? order_name(in.order.order)
                                     : "unknown (no consistent first record); read as little-endian");
  std::string records;
  std::size_t complete = 0;
  for (const RecordFrame& frame : in.frames) {
    if (frame.framing != Framing::complete) break;
    if (complete > 0) records += ", ";
    if (complete == 8) {
      records += "...";
      complete = in.frames.size();
      break;
    }
    records += num(frame.length);
    ++complete;
  }
  if (complete == 0)
    row("records", "none complete");
  else
    row("records", records + " data bytes");
  if (in.n) row("order N", num(*in.n));
  if (in.facts) {
    row("largest |A-A^T|", shortest(in.facts->max_asymmetry));
    row("Frobenius norm", shortest(in.facts->frobenius) +
                              (in.facts->nan_count + in.facts->infinite_count > 0 ? " (finite elements)" : ""));
    row("non-finite", num(in.facts->nan_count + in.facts->infinite_count));
  }
  row("blockeig", verdict_outcome(in.as_is));
  if (!in.as_is.accepted) row("because", in.as_is.reason);
  if (in.reversed) {
    row("BLOCKEIG_CONVERT=big_endian", verdict_outcome(*in.reversed));
    if (!in.reversed->accepted) row("because", in.reversed->reason);
  }
  for (const std::string& note : in.notes) row("note", note);
  return out;
}

}  // namespace scrtool
