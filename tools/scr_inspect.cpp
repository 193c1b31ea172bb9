#include "tools/scr_inspect.hpp"

#include <cmath>

#include "arithmetic/extended.hpp"
#include "tools/text_scan.hpp"

namespace scrtool {

namespace {

std::string num(std::int64_t value) { return std::to_string(value); }

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
}

constexpr const char* not_symmetric_warning =
    ", but A is not symmetric: its direct solve will use the lower triangle and the diagonal, its block sweeps "
    "all of A";

}  // namespace

std::string asymmetry_text(const Asymmetry& a) {
  if (a.symmetric()) return "0";
  const std::string lower = "A(" + num(a.i) + "," + num(a.j) + ")", upper = "A(" + num(a.j) + "," + num(a.i) + ")";
  return shortest_text(a.largest) + " at " + lower + " = " + shortest_text(a.lower) + ", " + upper + " = " +
         shortest_text(a.upper) + " (" + num(a.differing) + " of " + num(a.pairs) + " pairs differ)";
}

MatrixFacts measure(const Matrix& m) {
  MatrixFacts f;
  // Squares of doubles cannot overflow the extended type's exponent range.
  blockeig::ext sum = 0;
  for (std::int64_t j = 1; j <= m.n; ++j) {
    for (std::int64_t i = 1; i <= m.n; ++i) {
      const double x = m(i, j);
      if (std::isnan(x)) {
        ++f.nan_count;
      } else if (std::isinf(x)) {
        ++f.infinite_count;
      } else {
        sum += blockeig::ext(x) * blockeig::ext(x);
      }
    }
  }
  f.frobenius = static_cast<double>(blockeig::sqrt(sum));
  f.asymmetry = find_asymmetry(m);
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
  // Records 1 and 2 are what blockeig reads; a note counts any further ones.
  if (in.frames.empty() || in.frames[0].framing != Framing::complete) row("records", "none complete");
  for (std::size_t k = 0; k < in.frames.size() && k < 2 && in.frames[k].framing == Framing::complete; ++k)
    row("record " + num(k + 1), num(in.frames[k].length) + " data bytes");
  if (in.n) row("order N", num(*in.n));
  if (in.facts) {
    row("largest |A-A^T|", asymmetry_text(in.facts->asymmetry));
    row("Frobenius norm", shortest_text(in.facts->frobenius) +
                              (in.facts->nan_count + in.facts->infinite_count > 0 ? " (finite elements)" : ""));
    row("non-finite", num(in.facts->nan_count + in.facts->infinite_count));
  }
  const bool asymmetric = in.facts && !in.facts->asymmetry.symmetric();
  const auto verdict = [&](std::string_view label, const Verdict& v) {
    row(label, verdict_outcome(v) + (v.accepted && asymmetric ? not_symmetric_warning : ""));
    if (!v.accepted) row("because", v.reason);
  };
  verdict("blockeig", in.as_is);
  if (in.reversed) verdict("BLOCKEIG_CONVERT=big_endian", *in.reversed);
  for (const std::string& note : in.notes) row("note", note);
  return out;
}

}  // namespace scrtool
