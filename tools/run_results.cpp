#include "tools/run_results.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "arithmetic/extended.hpp"
#include "runtime/results_schema.hpp"
#include "tools/plot_axes.hpp"
#include "tools/json_value.hpp"
#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

namespace schema = blockeig::results_schema;

// A state longer than this is cut where it is shown.
constexpr std::size_t most_state_bytes = 60;

std::string quoted(std::string_view key) { return "\"" + std::string(key) + "\""; }

class Reader {
 public:
  explicit Reader(std::string_view name) : name_(name) {}

  [[noreturn]] void fail(const std::string& what) const { throw ToolError(printable(name_) + ": " + what); }

  JsonValue member(const std::optional<JsonValue>& value, std::string_view key, std::string_view where) const {
    if (!value) fail(std::string(where) + " has no " + quoted(key));
    return *value;
  }

  JsonValue member(const JsonValue& object, std::string_view key, std::string_view where) const {
    return member(object.find(key), key, where);
  }

  // A double: a number, or one of the words that stand for NaN and the
  // infinities.
  double number(const JsonValue& value, std::string_view what) const {
    if (value.kind() == JsonValue::Kind::number) return value.number();
    if (value.kind() == JsonValue::Kind::string) {
      const std::string text = value.text();
      if (text == schema::number_word::nan) return std::numeric_limits<double>::quiet_NaN();
      if (text == schema::number_word::infinity) return std::numeric_limits<double>::infinity();
      if (text == schema::number_word::minus_infinity) return -std::numeric_limits<double>::infinity();
    }
    fail(std::string(what) + " is not a number");
  }

  std::int64_t integer(const JsonValue& value, std::string_view what) const {
    if (value.kind() != JsonValue::Kind::number || !value.integral() || std::fabs(value.number()) > 2147483647.0)
      fail(std::string(what) + " is not an integer");
    return static_cast<std::int64_t>(value.number());
  }

  // An array of numbers, handed to `take` one by one.
  template <typename Take>
  void numbers(const JsonValue& value, std::string_view what, Take&& take) const {
    if (value.kind() != JsonValue::Kind::array) fail(std::string(what) + " is not an array");
    value.for_each_item([&](const JsonValue& item) { take(number(item, what)); });
  }

  std::vector<double> numbers(const JsonValue& value, std::string_view what) const {
    std::vector<double> out;
    if (value.kind() == JsonValue::Kind::array) out.reserve(value.size());
    numbers(value, what, [&](double v) { out.push_back(v); });
    return out;
  }

 private:
  std::string_view name_;
};

// Rank k: the k-th smallest value of `final_values` (NaN last, equal values
// in position order) beside the k-th direct eigenvalue. Only as many values
// as there are direct eigenvalues are ranked.
std::vector<RankPair> pair_by_rank(const std::vector<double>& direct, const std::vector<double>& final_values) {
  const auto before = [&](std::size_t a, std::size_t b) {
    const double x = final_values[a], y = final_values[b];
    if (std::isnan(x) || std::isnan(y)) return std::isnan(x) == std::isnan(y) ? a < b : std::isnan(y);
    return x < y || (x == y && a < b);
  };
  // The first k positions in that order, kept as a heap whose top is the
  // last of them: memory for k positions, time N log k.
  const std::size_t k = std::min(direct.size(), final_values.size());
  std::vector<std::size_t> order;
  order.reserve(k);
  for (std::size_t position = 0; position < final_values.size() && k > 0; ++position) {
    if (order.size() < k) {
      order.push_back(position);
      std::push_heap(order.begin(), order.end(), before);
    } else if (before(position, order.front())) {
      std::pop_heap(order.begin(), order.end(), before);
      order.back() = position;
      std::push_heap(order.begin(), order.end(), before);
    }
  }
  std::sort_heap(order.begin(), order.end(), before);
  std::vector<RankPair> pairs;
  pairs.reserve(order.size());
  for (std::size_t k = 0; k < order.size(); ++k)
    pairs.push_back({static_cast<std::int64_t>(k + 1), static_cast<std::int64_t>(order[k] + 1), direct[k],
                     final_values[order[k]]});
  return pairs;
}

// E after a sweep from its blocks' W (an array of arrays of numbers, read
// already): the lowest value of every block brought to the front in block
// order (block b's to position b), as the sweep's reordering does, then the
// blocks' other values in block order.
std::vector<double> values_after_sweep(const JsonValue& w, const Reader& r) {
  std::size_t values = 0, heads = 0;
  w.for_each_item([&](const JsonValue& block) {
    const std::size_t size = block.size();
    values += size;
    heads += size > 0;
  });
  std::vector<double> E(values);
  std::size_t head = 0, rest = heads;
  w.for_each_item([&](const JsonValue& block) {
    bool first = true;
    r.numbers(block, "\"W\"", [&](double v) {
      E[first ? head++ : rest++] = v;
      first = false;
    });
  });
  return E;
}

}  // namespace

double RankPair::difference() const {
  return static_cast<double>(blockeig::ext(block) - blockeig::ext(direct));
}

blockeig::E1Accuracy e1_accuracy(const RunResults& results) {
  const double E1 = results.sweeps.empty() ? std::numeric_limits<double>::quiet_NaN() : results.sweeps.back().e1;
  return blockeig::e1_accuracy(E1, results.direct);
}

const Notation table_notation{"lambda", "lambda_1", "||A||_2", "-", shortest_text,
                              [](std::int64_t rank) { return "lambda_" + std::to_string(rank); }};
const Notation picture_notation{"\u03bb", "\u03bb\u2081", "\u2016A\u2016\u2082", "\u2212", plot::brief,
                                [](std::int64_t rank) {
                                  std::string text = "\u03bb";
                                  // U+2080 .. U+2089, three bytes each.
                                  for (const char digit : std::to_string(rank))
                                    text += std::string("\xe2\x82") + static_cast<char>('\x80' + (digit - '0'));
                                  return text;
                                }};

std::string describe_end(const RunResults& results, const Notation& n) {
  if (results.sweeps.empty()) return "no sweep has finished";
  const blockeig::E1Accuracy a = e1_accuracy(results);
  const std::string lambda_1(n.lambda_1);
  const std::string end = !results.converged ? "run " + shown_state(results)
                          : *results.converged ? "settled"
                                               : "not settled";
  if (std::isnan(a.lambda_1)) return "no direct eigenvalue is a number; " + end;
  std::string s = results.converged ? "E(1) ended " : "E(1) stood ";
  const std::string when = results.converged ? "" : " after sweep " + std::to_string(results.sweeps.size());
  if (std::isnan(a.difference)) return "E(1) is NaN" + when + "; " + end;
  // The lead figure in three digits, whatever the notation's.
  const std::string side = a.difference > 0 ? " above " : " below ";
  if (a.difference == 0) s += "on " + lambda_1 + " to the bit";
  else if (a.lambda_1 == 0) s += plot::brief(std::fabs(a.difference)) + side + lambda_1 + " = 0";
  else s += plot::brief(std::fabs(a.relative_lambda_1)) + " |" + lambda_1 + "|" + side + lambda_1;
  s += when;
  if (a.nearest_rank > 0) s += ", nearest " + n.eigenvalue(a.nearest_rank);
  return s + "; " + end;
}

std::string describe_accuracy(const RunResults& results, const Notation& n) {
  if (results.sweeps.empty()) return "no sweep has finished";
  const blockeig::E1Accuracy a = e1_accuracy(results);
  if (std::isnan(a.lambda_1)) return "no direct eigenvalue is a number";
  const std::string lambda_1(n.lambda_1), norm(n.norm);
  const std::string gap = n.eigenvalue(2) + " " + std::string(n.minus) + " " + lambda_1;
  std::string s = "E(1) " + std::string(n.minus) + " " + lambda_1 + " = " + n.number(a.difference);
  if (a.lambda_1 != 0) s += " = " + n.number(a.relative_lambda_1) + " |" + lambda_1 + "|";
  if (a.gap != 0 && !std::isnan(a.gap)) s += " = " + n.number(a.relative_gap) + " (" + gap + ")";
  s += " = " + n.number(a.relative) + " " + norm + "; " + lambda_1 + " = " + n.number(a.lambda_1);
  if (!std::isnan(a.gap)) s += ", " + gap + " = " + n.number(a.gap);
  return s + ", " + norm + " = max |" + std::string(n.lambda) + "| = " + n.number(a.norm_2);
}

bool same_direct_eigenvalues(const std::vector<NamedRun>& runs) {
  const auto same_bits = [](double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); };
  for (const NamedRun& run : runs) {
    const std::vector<double>& first = runs.front().results.direct;
    const std::vector<double>& direct = run.results.direct;
    if (direct.size() != first.size() || !std::equal(direct.begin(), direct.end(), first.begin(), same_bits)) return false;
  }
  return true;
}

bool looks_like_json(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && text[first] == '{';
}

RunResults read_results(std::string_view text, std::string_view name) {
  const JsonValue d = parse_json(text, name);
  const Reader r(name);
  if (d.kind() != JsonValue::Kind::object) r.fail("not a blockeig results file");
  namespace key = schema::key;
  const auto [format, program, state, input, direct, blocks, sweeps, end] =
      d.find(std::array{key::format, key::program, key::state, key::input, key::direct, key::blocks, key::sweeps,
                        key::end});
  if (!format || !program) r.fail("not a blockeig results file");
  const std::int64_t version = r.integer(*format, quoted(key::format));
  if (version < 1) r.fail("results format " + std::to_string(version) + " is not a valid format number");
  if (version != schema::format_version)
    r.fail("results format " + std::to_string(version) + " is newer than this scrtool reads (" +
           std::to_string(schema::format_version) + ")");

  RunResults results;
  const JsonValue state_value = r.member(state, key::state, "the document");
  if (state_value.kind() != JsonValue::Kind::string) r.fail(quoted(key::state) + " is not a string");
  results.state = state_value.text();
  if (input) {
    const std::string_view N = schema::input_key::N;
    results.n = static_cast<std::int32_t>(r.integer(r.member(*input, N, quoted(key::input)), quoted(N)));
  }
  if (direct) {
    const std::string_view IERR = schema::direct_key::IERR, eigenvalues = schema::direct_key::eigenvalues;
    results.ierr = static_cast<std::int32_t>(r.integer(r.member(*direct, IERR, quoted(key::direct)), quoted(IERR)));
    results.direct = r.numbers(r.member(*direct, eigenvalues, quoted(key::direct)), "a direct eigenvalue");
  }
  if (blocks) {
    namespace blocks_key = schema::blocks_key;
    const std::string_view NBLOCKS = blocks_key::NBLOCKS;
    results.nblocks = static_cast<std::int32_t>(r.integer(r.member(*blocks, NBLOCKS, quoted(key::blocks)), quoted(NBLOCKS)));
    // The sweeps' rule, in files that record it (a run's TOL is end.TOL
    // once it has ended).
    if (const std::optional<JsonValue> TOL = blocks->find(blocks_key::TOL)) results.tol = r.number(*TOL, quoted(blocks_key::TOL));
    if (const std::optional<JsonValue> most = blocks->find(blocks_key::max_sweeps))
      results.max_sweeps = static_cast<std::int32_t>(r.integer(*most, quoted(blocks_key::max_sweeps)));
  }
  if (end) {
    const std::string_view TOL = schema::end_key::TOL, converged = schema::end_key::converged;
    results.tol = r.number(r.member(*end, TOL, quoted(key::end)), quoted(TOL));
    const JsonValue converged_value = r.member(*end, converged, quoted(key::end));
    if (converged_value.kind() != JsonValue::Kind::boolean) r.fail(quoted(converged) + " is not true or false");
    results.converged = converged_value.boolean();
  }
  std::optional<JsonValue> last_w;
  if (sweeps) {
    if (sweeps->kind() != JsonValue::Kind::array) r.fail(quoted(key::sweeps) + " is not an array");
    namespace sweep_key = schema::sweep_key;
    sweeps->for_each_item([&](const JsonValue& s) {
      const std::string where = "sweep " + std::to_string(results.sweeps.size() + 1);
      const auto [ITER, E1, E2, EN1, EN, DELTA, W, seconds] =
          s.find(std::array{sweep_key::ITER, sweep_key::E1, sweep_key::E2, sweep_key::EN1, sweep_key::EN,
                            sweep_key::DELTA, sweep_key::W, schema::common_key::seconds});
      const auto value = [&](const std::optional<JsonValue>& member, std::string_view key) {
        return r.number(r.member(member, key, where), where + " " + quoted(key));
      };
      SweepLine line;
      line.iter = static_cast<std::int32_t>(r.integer(r.member(ITER, sweep_key::ITER, where), where + " " + quoted(sweep_key::ITER)));
      if (line.iter != static_cast<std::int32_t>(results.sweeps.size() + 1)) r.fail(where + " is numbered " + std::to_string(line.iter));
      line.e1 = value(E1, sweep_key::E1);
      line.e2 = value(E2, sweep_key::E2);
      line.en1 = value(EN1, sweep_key::EN1);
      line.en = value(EN, sweep_key::EN);
      line.delta = value(DELTA, sweep_key::DELTA);
      line.tol = results.tol;
      results.sweep_seconds += seconds ? value(seconds, schema::common_key::seconds)
                                       : std::numeric_limits<double>::quiet_NaN();
      const JsonValue w = r.member(W, sweep_key::W, where);
      const std::string what = where + " " + quoted(sweep_key::W);
      if (w.kind() != JsonValue::Kind::array) r.fail(what + " is not an array");
      // Every sweep's W is checked; only the last one's values are kept.
      w.for_each_item([&](const JsonValue& block) { r.numbers(block, what, [](double) {}); });
      last_w = w;
      results.sweeps.push_back(line);
    });
  }
  if (end) {
    namespace pair_key = schema::pair_key;
    const JsonValue by_rank = r.member(*end, schema::end_key::by_rank, quoted(key::end));
    if (by_rank.kind() != JsonValue::Kind::array) r.fail(quoted(schema::end_key::by_rank) + " is not an array");
    by_rank.for_each_item([&](const JsonValue& p) {
      const auto [rank, position, direct_value, block] =
          p.find(std::array{pair_key::rank, pair_key::position, pair_key::direct, pair_key::block});
      results.pairs.push_back({r.integer(r.member(rank, pair_key::rank, "a pair"), quoted(pair_key::rank)),
                               r.integer(r.member(position, pair_key::position, "a pair"), quoted(pair_key::position)),
                               r.number(r.member(direct_value, pair_key::direct, "a pair"), quoted(pair_key::direct)),
                               r.number(r.member(block, pair_key::block, "a pair"), quoted(pair_key::block))});
    });
  } else {
    results.pairs = pair_by_rank(results.direct, last_w ? values_after_sweep(*last_w, r) : std::vector<double>());
  }
  return results;
}

std::string settled_word(const RunResults& r) {
  if (!r.converged) return printable(r.state, 12);
  return *r.converged ? "yes" : "no";
}

std::string shown_state(const RunResults& results) { return printable(results.state, most_state_bytes); }

Transcript as_transcript(const RunResults& results) {
  Transcript t;
  t.n = results.n;
  t.ierr = results.ierr;
  const std::size_t n = results.direct.size();
  if (n >= 2) t.summary = std::array<double, 4>{results.direct[0], results.direct[1], results.direct[n - 2], results.direct[n - 1]};
  t.nblocks = results.nblocks;
  t.sweeps = results.sweeps;
  return t;
}

}  // namespace scrtool
