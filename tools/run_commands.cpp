// scrtool's commands on blockeig's runs: plot, compare and study.
#include <algorithm>
#include <optional>
#include <vector>

#include "runtime/printable.hpp"
#include "runtime/run_constants.hpp"
#include "tools/command_arguments.hpp"
#include "tools/file_io.hpp"
#include "tools/matrix.hpp"
#include "tools/pair_table.hpp"
#include "tools/run_results.hpp"
#include "tools/runs_table.hpp"
#include "tools/scrtool_commands.hpp"
#include "tools/scrtool_help.hpp"
#include "tools/study.hpp"
#include "tools/sweep_plot.hpp"
#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"
#include "tools/transcript.hpp"

namespace scrtool::command {

namespace {

std::string sweep_count(std::size_t sweeps) { return std::to_string(sweeps) + (sweeps == 1 ? " sweep" : " sweeps"); }

// A results file that has at least one finished sweep.
RunResults read_results_with_sweeps(const std::string& text, const std::string& input) {
  RunResults results = read_results(text, input);
  if (results.sweeps.empty())
    throw ToolError(printable(input) + ": the run has no finished sweep yet (state \"" + shown_state(results) + "\")");
  return results;
}

// Several results files, each with a finished sweep, in the order given.
std::vector<NamedRun> read_runs(const std::vector<std::string>& inputs) {
  std::vector<NamedRun> runs;
  for (const std::string& input : inputs) {
    const std::string text = read_file(input);
    if (!looks_like_json(text))
      throw ToolError(printable(input) + ": not a results file (several files are compared as results files only: "
                                         "blockeig --results FILE writes one)");
    runs.push_back({input, read_results_with_sweeps(text, input)});
  }
  return runs;
}

std::string run_count(std::size_t runs) { return std::to_string(runs) + (runs == 1 ? " run" : " runs"); }

// "1,2,4,8": block counts, each once.
std::vector<std::int32_t> block_counts(const std::string& text) {
  std::vector<std::int32_t> counts;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string item = text.substr(at, comma - at);
    std::int64_t count = 0;
    if (!parse_integer(item, count) || count < 1 || count > max_order)
      throw UsageError("--blocks takes block counts separated by commas, such as 1,2,4,8; '" + item +
                       "' is not a count");
    if (std::find(counts.begin(), counts.end(), count) != counts.end())
      throw UsageError("--blocks names " + item + " twice");
    counts.push_back(static_cast<std::int32_t>(count));
    at = comma + 1;
  }
  return counts;
}

// N allows blockeig::run::max_block_count(N) blocks at most. The default
// counts beyond that are left out, with a note; counts asked for are
// refused before anything runs.
std::vector<std::int32_t> counts_for_order(std::vector<std::int32_t> counts, std::optional<std::int32_t> n,
                                           bool asked, std::ostream& err) {
  if (!n || *n < blockeig::run::min_matrix_order) return counts;
  const std::int32_t most = blockeig::run::max_block_count(*n);
  std::string left_out;
  for (const std::int32_t count : counts)
    if (count > most) left_out += (left_out.empty() ? "" : ", ") + std::to_string(count);
  if (left_out.empty()) return counts;
  const std::string limit = "N = " + std::to_string(*n) + " allows 1 to " + std::to_string(most) + " blocks";
  if (asked) throw UsageError("--blocks " + left_out + ": " + limit);
  std::erase_if(counts, [&](std::int32_t count) { return count > most; });
  err << "scrtool study: " << limit << "; leaving out " << left_out << '\n';
  return counts;
}

}  // namespace

int run_plot(std::span<const std::string> args, std::ostream& out, std::ostream&) {
  static constexpr OptionRule rules[] = {{"--output", 'o', true}};
  const Parsed p = parse_arguments(args, rules);
  if (p.help) return out << plot_help, exit_ok;
  require_some_operands(p, "transcript or results file");
  const std::string output = p.value("--output").value_or("sweeps.svg");
  if (p.positional.size() > 1) {
    const std::vector<NamedRun> runs = read_runs(p.positional);
    write_text(output, render_runs_plot(runs, "blockeig runs side by side"));
    out << "wrote " << output << ": " << run_count(runs.size()) << '\n';
    return exit_ok;
  }
  const std::string& input = p.positional[0];
  const std::string text = read_file(input);
  std::string svg, what;
  if (looks_like_json(text)) {
    const RunResults results = read_results_with_sweeps(text, input);
    svg = render_results_plot(results, input);
    what = sweep_count(results.sweeps.size()) + ", " + std::to_string(results.pairs.size()) + " eigenvalues by rank";
  } else {
    const Transcript t = read_transcript(text, input);
    svg = render_sweep_plot(t, input);
    what = sweep_count(t.sweeps.size());
  }
  write_file_atomically(output, [&](const ByteSink& sink) { sink(as_bytes(svg)); });
  out << "wrote " << output << ": " << what << '\n';
  return exit_ok;
}

int run_compare(std::span<const std::string> args, std::ostream& out, std::ostream&) {
  static constexpr OptionRule rules[] = {{"--output", 'o', true}};
  const Parsed p = parse_arguments(args, rules);
  if (p.help) return out << compare_help, exit_ok;
  require_some_operands(p, "results file");
  const std::optional<std::string> output = p.value("--output");
  if (p.positional.size() > 1) {
    const std::vector<NamedRun> runs = read_runs(p.positional);
    if (!output || *output == "-") return out << render_runs_table(runs), exit_ok;
    const bool csv = lower(extension_of(*output)) == ".csv";
    write_text(*output, csv ? render_runs_csv(runs) : render_runs_table(runs));
    out << "wrote " << *output << ": " << run_count(runs.size()) << '\n';
    return exit_ok;
  }
  const std::string& input = p.positional[0];
  const std::string text = read_file(input);
  if (!looks_like_json(text)) throw ToolError(printable(input) + ": not a results file (blockeig --results FILE writes one)");
  const RunResults results = read_results_with_sweeps(text, input);
  if (!output || *output == "-") {
    out << render_pair_table(results, input);
    return exit_ok;
  }
  const bool csv = lower(extension_of(*output)) == ".csv";
  const std::string rendered = csv ? render_pair_csv(results) : render_pair_table(results, input);
  write_file_atomically(*output, [&](const ByteSink& sink) { sink(as_bytes(rendered)); });
  out << "wrote " << *output << ": " << results.pairs.size() << " pairs\n";
  return exit_ok;
}

int run_study_command(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  static constexpr OptionRule rules[] = {{"--blocks", 0, true}, {"--output", 'o', true}, {"--program", 0, true}};
  const Parsed p = parse_arguments(args, rules);
  if (p.help) return out << study_help, exit_ok;
  if (p.positional.size() > 1) throw UsageError("unexpected argument '" + p.positional[1] + "'");
  StudyPlan plan;
  plan.matrix = p.positional.empty() ? std::string(blockeig::run::matrix_file_name) : p.positional[0];
  plan.figure = p.value("--output").value_or("study.svg");
  const std::optional<std::string> asked = p.value("--blocks");
  const std::vector<std::int32_t> counts = block_counts(asked.value_or("1,2,4,8"));
  plan.blocks = counts_for_order(counts, matrix_order(plan.matrix), asked.has_value(), err);
  plan.program = find_blockeig(p.value("--program"));
  return run_study(plan, out, err);
}

}  // namespace scrtool::command
