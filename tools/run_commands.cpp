// scrtool's commands on blockeig's runs: plot, compare and study.
#include <algorithm>
#include <optional>
#include <span>
#include <string>
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

}  // namespace

int run_plot(std::span<const std::string> args, std::ostream& out, std::ostream&) {
  static constexpr OptionRule rules[] = {{"--output", 'o', true}};
  const Parsed p = parse_arguments(args, rules);
  if (p.help) return out << plot_help, exit_ok;
  require_some_operands(p, "transcript or results file");
  const std::string output = p.value("--output").value_or("sweeps.svg");
  refuse_outputs_over_inputs(std::span(&output, 1), p.positional);
  if (p.positional.size() > 1) {
    const std::vector<NamedRun> runs = read_runs(p.positional);
    write_text(output, render_runs_plot(runs, "blockeig runs side by side"));
    out << "wrote " << printable(output) << ": " << run_count(runs.size()) << '\n';
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
  out << "wrote " << printable(output) << ": " << what << '\n';
  return exit_ok;
}

int run_compare(std::span<const std::string> args, std::ostream& out, std::ostream&) {
  static constexpr OptionRule rules[] = {{"--output", 'o', true}};
  const Parsed p = parse_arguments(args, rules);
  if (p.help) return out << compare_help, exit_ok;
  require_some_operands(p, "results file");
  const std::optional<std::string> output = p.value("--output");
  if (output) refuse_outputs_over_inputs(std::span(&*output, 1), p.positional);
  if (p.positional.size() > 1) {
    const std::vector<NamedRun> runs = read_runs(p.positional);
    if (!output || *output == "-") return out << render_runs_table(runs), exit_ok;
    const bool csv = lower(extension_of(*output)) == ".csv";
    write_text(*output, csv ? render_runs_csv(runs) : render_runs_table(runs));
    out << "wrote " << printable(*output) << ": " << run_count(runs.size()) << '\n';
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
  out << "wrote " << printable(*output) << ": " << results.pairs.size() << " pairs\n";
  return exit_ok;
}

int run_study_command(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  static constexpr OptionRule rules[] = {{"--blocks", 0, true},     {"--output", 'o', true}, {"--program", 0, true},
                                         {"--tol", 0, true},        {"--max-sweeps", 0, true}};
  const Parsed p = parse_arguments(args, rules);
  if (p.help) return out << study_help, exit_ok;
  if (p.positional.size() > 1) throw UsageError("unexpected argument '" + p.positional[1] + "'");
  const StudyRequest request{p.value("--blocks"), p.value("--tol"), p.value("--max-sweeps")};
  // The lists are checked before the matrix is read, the counts against its
  // order after.
  plan_study_runs(request, std::nullopt, err);
  StudyPlan plan;
  plan.figure = p.value("--output").value_or("study.svg");
  const std::string given = p.positional.empty() ? std::string(blockeig::run::matrix_file_name) : p.positional[0];
  // The figure and the results files beside it are never the matrix.
  refuse_outputs_over_inputs(std::span(&plan.figure, 1), std::span(&given, 1));
  const StudyMatrix matrix(given, plan.figure, err);
  plan.matrix = &matrix;
  plan.runs = plan_study_runs(request, matrix.order(), err);
  std::vector<std::string> results_files;
  for (const StudyRun& run : plan.runs.runs) results_files.push_back(study_results_name(plan.figure, run.suffix));
  refuse_outputs_over_inputs(results_files, std::span(&given, 1));
  plan.program = find_blockeig(p.value("--program"));
  return run_study(plan, out, err);
}

}  // namespace scrtool::command
