#include "tools/run_results.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "tools/json_value.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

class Reader {
 public:
  explicit Reader(std::string_view name) : name_(name) {}

  [[noreturn]] void fail(const std::string& what) const {
    throw ToolError(std::string(name_) + ": " + what);
  }

  const JsonValue& member(const JsonValue& object, std::string_view key, std::string_view where) const {
    const JsonValue* value = object.find(key);
    if (value == nullptr) fail(std::string(where) + " has no \"" + std::string(key) + "\"");
    return *value;
  }

  // A double: a number, or "NaN", "Infinity", "-Infinity".
  double number(const JsonValue& value, std::string_view what) const {
    if (value.kind == JsonValue::Kind::number) return value.number;
    if (value.kind == JsonValue::Kind::string) {
      if (value.text == "NaN") return std::numeric_limits<double>::quiet_NaN();
      if (value.text == "Infinity") return std::numeric_limits<double>::infinity();
      if (value.text == "-Infinity") return -std::numeric_limits<double>::infinity();
    }
    fail(std::string(what) + " is not a number");
  }

  std::int64_t integer(const JsonValue& value, std::string_view what) const {
    if (value.kind != JsonValue::Kind::number || !value.integral || std::fabs(value.number) > 2147483647.0)
      fail(std::string(what) + " is not an integer");
    return static_cast<std::int64_t>(value.number);
  }

  std::vector<double> numbers(const JsonValue& value, std::string_view what) const {
    if (value.kind != JsonValue::Kind::array) fail(std::string(what) + " is not an array");
    std::vector<double> out;
    for (const JsonValue& item : value.items) out.push_back(number(item, what));
    return out;
  }

 private:
  std::string_view name_;
};

// Rank k: the k-th smallest value of `final_values` (NaN last, equal values
// in position order) beside the k-th direct eigenvalue.
std::vector<RankPair> pair_by_rank(const std::vector<double>& direct, const std::vector<double>& final_values) {
  std::vector<std::size_t> order(final_values.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (std::isnan(final_values[a]) || std::isnan(final_values[b]))
      return !std::isnan(final_values[a]) && std::isnan(final_values[b]);
    return final_values[a] < final_values[b];
  });
  std::vector<RankPair> pairs;
  for (std::size_t k = 0; k < order.size() && k < direct.size(); ++k)
    pairs.push_back({static_cast<std::int64_t>(k + 1), static_cast<std::int64_t>(order[k] + 1), direct[k],
                     final_values[order[k]]});
  return pairs;
}

// E after a sweep from its blocks' W: the blocks' values in block order,
// then the lowest value of every block brought to the front (block b's to
// position b), as the sweep's reordering does.
std::vector<double> values_after_sweep(const std::vector<std::vector<double>>& w) {
  std::vector<double> E;
  std::vector<std::size_t> starts;
  for (const std::vector<double>& block : w) {
    starts.push_back(E.size());
    E.insert(E.end(), block.begin(), block.end());
  }
  for (std::size_t b = 1; b < starts.size(); ++b) {
    if (starts[b] >= E.size() || b > starts[b]) continue;
    std::rotate(E.begin() + static_cast<std::ptrdiff_t>(b), E.begin() + static_cast<std::ptrdiff_t>(starts[b]),
                E.begin() + static_cast<std::ptrdiff_t>(starts[b]) + 1);
  }
  return E;
}

}  // namespace

bool looks_like_json(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && text[first] == '{';
}

RunResults read_results(std::string_view text, std::string_view name) {
  const JsonValue d = parse_json(text, name);
  const Reader r(name);
  if (d.kind != JsonValue::Kind::object) r.fail("not a blockeig results file");
  const JsonValue* format = d.find("format");
  if (format == nullptr || d.find("program") == nullptr) r.fail("not a blockeig results file");
  if (r.integer(*format, "\"format\"") != 1)
    r.fail("results format " + std::to_string(r.integer(*format, "\"format\"")) + " is newer than this scrtool reads (1)");

  RunResults results;
  const JsonValue& state = r.member(d, "state", "the document");
  if (state.kind != JsonValue::Kind::string) r.fail("\"state\" is not a string");
  results.state = state.text;
  if (const JsonValue* input = d.find("input"))
    results.n = static_cast<std::int32_t>(r.integer(r.member(*input, "N", "\"input\""), "\"N\""));
  if (const JsonValue* direct = d.find("direct")) {
    results.ierr = static_cast<std::int32_t>(r.integer(r.member(*direct, "IERR", "\"direct\""), "\"IERR\""));
    results.direct = r.numbers(r.member(*direct, "eigenvalues", "\"direct\""), "a direct eigenvalue");
  }
  if (const JsonValue* blocks = d.find("blocks"))
    results.nblocks = static_cast<std::int32_t>(r.integer(r.member(*blocks, "NBLOCKS", "\"blocks\""), "\"NBLOCKS\""));
  const JsonValue* end = d.find("end");
  if (end != nullptr) {
    results.tol = r.number(r.member(*end, "TOL", "\"end\""), "\"TOL\"");
    const JsonValue& converged = r.member(*end, "converged", "\"end\"");
    if (converged.kind != JsonValue::Kind::boolean) r.fail("\"converged\" is not true or false");
    results.converged = converged.boolean;
  }
  std::vector<std::vector<double>> last_w;
  if (const JsonValue* sweeps = d.find("sweeps")) {
    if (sweeps->kind != JsonValue::Kind::array) r.fail("\"sweeps\" is not an array");
    for (const JsonValue& s : sweeps->items) {
      const std::string where = "sweep " + std::to_string(results.sweeps.size() + 1);
      SweepLine line;
      line.iter = static_cast<std::int32_t>(r.integer(r.member(s, "ITER", where), where + " \"ITER\""));
      if (line.iter != static_cast<std::int32_t>(results.sweeps.size() + 1)) r.fail(where + " is numbered " + std::to_string(line.iter));
      line.e1 = r.number(r.member(s, "E(1)", where), where + " \"E(1)\"");
      line.e2 = r.number(r.member(s, "E(2)", where), where + " \"E(2)\"");
      line.en1 = r.number(r.member(s, "E(N-1)", where), where + " \"E(N-1)\"");
      line.en = r.number(r.member(s, "E(N)", where), where + " \"E(N)\"");
      line.delta = r.number(r.member(s, "DELTA", where), where + " \"DELTA\"");
      line.tol = results.tol;
      const JsonValue& w = r.member(s, "W", where);
      if (w.kind != JsonValue::Kind::array) r.fail(where + " \"W\" is not an array");
      last_w.clear();
      for (const JsonValue& block : w.items) last_w.push_back(r.numbers(block, where + " \"W\""));
      results.sweeps.push_back(line);
    }
  }
  if (end != nullptr) {
    const JsonValue& by_rank = r.member(*end, "by_rank", "\"end\"");
    if (by_rank.kind != JsonValue::Kind::array) r.fail("\"by_rank\" is not an array");
    for (const JsonValue& p : by_rank.items)
      results.pairs.push_back({r.integer(r.member(p, "rank", "a pair"), "\"rank\""),
                               r.integer(r.member(p, "position", "a pair"), "\"position\""),
                               r.number(r.member(p, "direct", "a pair"), "\"direct\""),
                               r.number(r.member(p, "block", "a pair"), "\"block\"")});
  } else {
    results.pairs = pair_by_rank(results.direct, values_after_sweep(last_w));
  }
  return results;
}

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
