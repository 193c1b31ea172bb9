// scrtool's JSON reader against nlohmann-json. On a document both accept
// (and that holds no NUL byte, where nlohmann-json stops reading),
// every value read (walked through the reader's own interface) equals
// nlohmann's. A document nlohmann accepts may be refused only for the
// reader's own limits: nesting deeper than 64, or a number that underflows
// to zero. A refusal is one printable line naming the file.
//
// The document is then read as a results file; what it gives is drawn and
// tabulated as compare and plot would, and every line of that output must
// be printable text.
//
// Input: the document.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "scrtool_checks.hpp"
#include "tools/json_value.hpp"
#include "tools/pair_table.hpp"
#include "tools/run_results.hpp"
#include "tools/runs_table.hpp"
#include "tools/sweep_plot.hpp"
#include "tools/text_scan.hpp"

namespace {

using blockeig::fuzz::scrtool_finding;
using scrtool::JsonValue;

constexpr std::string_view name = "f.json";

// The reader's value as nlohmann's tree: numbers as the doubles read, a
// name given twice keeping its last value, as nlohmann does.
nlohmann::json tree_of(const JsonValue& v) {
  switch (v.kind()) {
    case JsonValue::Kind::null: return nullptr;
    case JsonValue::Kind::boolean: return v.boolean();
    case JsonValue::Kind::number: return v.number();
    case JsonValue::Kind::string: return v.text();
    case JsonValue::Kind::array: {
      nlohmann::json out = nlohmann::json::array();
      v.for_each_item([&](const JsonValue& item) { out.push_back(tree_of(item)); });
      if (out.size() != v.size()) scrtool_finding("an array's size differs from its items", "");
      return out;
    }
    case JsonValue::Kind::object: {
      nlohmann::json out = nlohmann::json::object();
      v.for_each_member([&](const std::string& member, const JsonValue& value) {
        out[member] = tree_of(value);
        if (!v.find(member)) scrtool_finding("a member is not found by its name", member);
      });
      return out;
    }
  }
  return nullptr;
}

// Every line of `text` as printable() leaves it.
void expect_printable(const std::string& text, const char* what) {
  for (std::size_t at = 0, next; at < text.size(); at = next + 1) {
    next = text.find('\n', at);
    if (next == std::string::npos) next = text.size();
    const std::string_view line(text.data() + at, next - at);
    if (scrtool::printable(line) != line) scrtool_finding(what, text);
  }
}

void read_as_results(std::string_view text) {
  scrtool::RunResults results;
  try {
    results = scrtool::read_results(text, name);
  } catch (const scrtool::ToolError& e) {
    blockeig::fuzz::check_refusal(e, name);
    return;
  }
  expect_printable(scrtool::render_pair_table(results, name), "compare's table holds bytes that cannot be shown");
  if (results.sweeps.empty()) return;
  expect_printable(scrtool::render_results_plot(results, name), "plot's picture holds bytes that cannot be shown");
  const std::vector<scrtool::NamedRun> runs{{std::string(name), results}, {std::string(name), results}};
  expect_printable(scrtool::render_runs_table(runs), "the table of several runs holds bytes that cannot be shown");
  expect_printable(scrtool::render_runs_plot(runs, name), "the picture of several runs holds bytes that cannot be shown");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // nlohmann-json takes a NUL byte for the end of the input: such a
  // document has no judge.
  const nlohmann::json theirs = text.find('\0') != std::string_view::npos
                                    ? nlohmann::json(nlohmann::json::value_t::discarded)
                                    : nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  try {
    const JsonValue ours = scrtool::parse_json(text, name);
    if (!theirs.is_discarded() && tree_of(ours) != theirs)
      scrtool_finding("a value differs from nlohmann-json's", tree_of(ours).dump() + "\n--- nlohmann ---\n" + theirs.dump());
  } catch (const scrtool::ToolError& e) {
    blockeig::fuzz::check_refusal(e, name);
    const std::string message = e.what();
    if (!theirs.is_discarded() && !message.ends_with("nested too deeply") &&
        !message.ends_with("number out of the range of a double"))
      scrtool_finding("a document nlohmann-json reads is refused", message);
  }
  read_as_results(text);
  return 0;
}
