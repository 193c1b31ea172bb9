#include "tools/scrtool_cli.hpp"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <span>
#include <string_view>

#include "runtime/posix_file.hpp"
#include "runtime/printable.hpp"
#include "runtime/run_constants.hpp"
#include "tools/file_io.hpp"
#include "tools/generators.hpp"
#include "tools/matrix_market.hpp"
#include "tools/npy_file.hpp"
#include "tools/pair_table.hpp"
#include "tools/run_results.hpp"
#include "tools/runs_table.hpp"
#include "tools/scr_file.hpp"
#include "tools/scr_inspect.hpp"
#include "tools/scrtool_help.hpp"
#include "tools/study.hpp"
#include "tools/symmetry.hpp"
#include "tools/sweep_plot.hpp"
#include "tools/text_matrix.hpp"
#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"
#include "tools/transcript.hpp"

#ifndef BLOCKEIG_VERSION
#define BLOCKEIG_VERSION "unknown"
#endif

namespace scrtool {

namespace {

constexpr int exit_ok = 0;
constexpr int exit_rejected = 1;
constexpr int exit_error = 2;

// A usage mistake: reported with a pointer to the command's help.
class UsageError : public ToolError {
 public:
  using ToolError::ToolError;
};

struct OptionRule {
  std::string_view long_name;  // "--output"
  char short_name;             // 'o', or 0
  bool takes_value;
};

struct Parsed {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // long name -> value ("" for flags)
  bool help = false;
  bool has(const std::string& name) const { return options.count(name) != 0; }
  std::optional<std::string> value(const std::string& name) const {
    const auto it = options.find(name);
    return it == options.end() ? std::nullopt : std::optional(it->second);
  }
};

// Options may come before, between or after the operands; "--" ends them.
Parsed parse_arguments(std::span<const std::string> args, std::span<const OptionRule> rules) {
  Parsed p;
  bool options_done = false;
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      p.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      p.help = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const OptionRule* rule = nullptr;
    for (const OptionRule& s : rules)
      if (name == s.long_name || (s.short_name && name.size() == 2 && name[1] == s.short_name)) rule = &s;
    if (rule == nullptr) throw UsageError("unknown option '" + printable(name) + "'");
    const std::string key(rule->long_name);
    if (p.has(key)) throw UsageError("option '" + printable(name) + "' given twice");
    if (!rule->takes_value) {
      if (equals != std::string::npos) throw UsageError("option '" + printable(name) + "' takes no value");
      p.options[key] = "";
    } else if (equals != std::string::npos) {
      p.options[key] = arg.substr(equals + 1);
    } else {
      if (k + 1 == args.size()) throw UsageError("option '" + printable(name) + "' needs a value");
      p.options[key] = args[++k];
    }
    if (rule->takes_value && p.options[key].empty()) throw UsageError("option '" + printable(name) + "' needs a value");
  }
  return p;
}

void require_operands(const Parsed& p, std::size_t count, const char* what) {
  if (p.positional.size() < count) throw UsageError(std::string("missing ") + what);
  if (p.positional.size() > count) throw UsageError("unexpected argument '" + printable(p.positional[count], blockeig::runtime::echo_limit) + "'");
}

void require_some_operands(const Parsed& p, const char* what) {
  if (p.positional.empty()) throw UsageError(std::string("missing ") + what);
}

std::string extension_of(std::string_view path) {
  const std::string name = blockeig::runtime::split_name(path).name;
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

void warn_no_banner(const std::string& input, const std::string& assumed, std::ostream& err) {
  err << "scrtool import: warning: " << printable(input) << ": no %%MatrixMarket header line; assumed \"" << assumed
      << "\"\n";
}

std::span<const std::uint8_t> as_bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

ByteSink stream_sink(std::ostream& out) {
  return [&out](std::span<const std::uint8_t> piece) {
    out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
  };
}

// The input format: the one given (--format), else the extension where it
// names one, else the content.
std::string input_format(const std::string& path, const std::optional<std::string>& given, const std::string& text) {
  if (given) {
    if (*given == "mtx" || *given == "npy" || *given == "txt") return *given;
    throw UsageError("--format takes mtx, npy or txt, not '" + printable(*given) + "'");
  }
  const std::string ext = lower(extension_of(path));
  if (ext == ".npy") return "npy";
  if (ext == ".mtx" || ext == ".mm") return "mtx";
  if (text.starts_with("\x93NUMPY")) return "npy";
  if (lower(text.substr(0, 14)) == "%%matrixmarket") return "mtx";
  return "txt";
}

// A Matrix Market file that the user names as one is read without its
// banner too (files are passed around that way); the warning says what was
// assumed, before any message about a later line.
Matrix read_any_matrix(const std::string& path, const std::optional<std::string>& format, std::ostream& err) {
  const std::string text = read_file(path);
  const std::string chosen = input_format(path, format, text);
  if (chosen == "npy") return read_npy(as_bytes(text), path);
  if (chosen == "txt") return read_text_matrix(text, path);
  std::string assumed;
  try {
    Matrix m = read_matrix_market(text, path, &assumed);
    if (!assumed.empty()) warn_no_banner(path, assumed, err);
    return m;
  } catch (const ToolError&) {
    if (!assumed.empty()) warn_no_banner(path, assumed, err);
    throw;
  }
}

std::string order_name(ByteOrder order) { return order == ByteOrder::little ? "little-endian" : "big-endian"; }

std::optional<Symmetrize> symmetrize_rule(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  if (*text == "lower") return Symmetrize::lower;
  if (*text == "upper") return Symmetrize::upper;
  if (*text == "average") return Symmetrize::average;
  throw UsageError("--symmetrize takes lower, upper or average, not '" + printable(*text, blockeig::runtime::echo_limit) + "'");
}

// blockeig's two phases read different parts of a matrix that is not
// symmetric; say so before it goes unnoticed.
void warn_not_symmetric(const std::string& input, const Asymmetry& a, std::ostream& err) {
  err << "scrtool import: warning: " << input << ": the matrix is not symmetric; largest |A(i,j)-A(j,i)| is "
      << asymmetry_text(a) << "\n"
      << "scrtool import: blockeig's direct solve reads the lower triangle and the diagonal, its block sweeps all "
         "of A; --symmetrize lower|upper|average makes them one matrix\n";
}

int run_import(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  static constexpr OptionRule rules[] = {
      {"--output", 'o', true}, {"--big-endian", 0, false}, {"--symmetrize", 0, true}, {"--format", 0, true}};
  const Parsed p = parse_arguments(args, rules);
  if (p.help) return out << import_help, exit_ok;
  require_operands(p, 1, "input file");
  const std::string output = p.value("--output").value_or(std::string(blockeig::run::matrix_file_name));
  const ByteOrder order = p.has("--big-endian") ? ByteOrder::big : ByteOrder::little;
  const std::optional<Symmetrize> rule = symmetrize_rule(p.value("--symmetrize"));
  Matrix m = read_any_matrix(p.positional[0], p.value("--format"), err);
  const Asymmetry asymmetry = find_asymmetry(m);
  if (rule) symmetrize(m, *rule);
  write_file_atomically(output, [&](const ByteSink& sink) { emit_scr(m, order, sink); });
  if (!rule && !asymmetry.symmetric()) warn_not_symmetric(p.positional[0], asymmetry, err);
  out << "wrote " << output << ": N = " << m.n << ", " << 20 + 8 * m.a.size() << " bytes, " << order_name(order);
  if (rule)
    out << ", symmetrized (" << *p.value("--symmetrize") << "): " << asymmetry.differing << " of "
        << asymmetry.pairs << " pairs changed";
  out << '\n';
  return exit_ok;
}

int run_export(std::span<const std::string> args, std::ostream& out, std::ostream&) {
  static constexpr OptionRule rules[] = {{"--output", 'o', true}};
  const Parsed p = parse_arguments(args, rules);
  if (p.help) return out << export_help, exit_ok;
  require_operands(p, 1, "A.SCR file");
  const std::optional<std::string> output = p.value("--output");
  std::function<void(const Matrix&, const ByteSink&)> emit = emit_text_matrix;
  if (output && *output != "-") {
    const std::string ext = lower(extension_of(*output));
    if (ext == ".mtx" || ext == ".mm") emit = emit_matrix_market;
    else if (ext == ".npy") emit = emit_npy;
    else if (ext != ".txt")
      throw UsageError("cannot tell the format of '" + printable(*output) + "' from its extension; use .mtx, .npy or .txt");
  }
  const std::string& input = p.positional[0];
  const FileSource file(input);
  const OrderGuess guess = detect_byte_order(file);
  Matrix m;
  try {
    m = read_scr(file, guess.order);
  } catch (const ToolError& e) {
    throw ToolError(printable(input) + ": " + e.what());
  }
  if (!output || *output == "-") {
    emit(m, stream_sink(out));
    return exit_ok;
  }
  write_file_atomically(*output, [&](const ByteSink& sink) { emit(m, sink); });
  return exit_ok;
}

int run_info(std::span<const std::string> args, std::ostream& out, std::ostream&) {
  const Parsed p = parse_arguments(args, {});
  if (p.help) return out << info_help, exit_ok;
  require_operands(p, 1, "A.SCR file");
  const FileSource file(p.positional[0]);
  const Inspection inspection = inspect_scr(file);
  out << render_inspection(inspection, p.positional[0]);
  return inspection.as_is.accepted ? exit_ok : exit_rejected;
}

std::int64_t order_operand(const std::string& text) {
  std::int64_t n = 0;
  if (!parse_integer(text, n)) throw UsageError("the order '" + text + "' is not an integer");
  require_blockeig_order(n, "");
  return n;
}

std::uint64_t seed_value(const std::string& text) {
  std::uint64_t seed = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), seed);
  if (ec != std::errc() || ptr != text.data() + text.size())
    throw UsageError("the seed '" + text + "' is not an integer from 0 to 18446744073709551615");
  return seed;
}

int run_gen(std::span<const std::string> args, std::ostream& out, std::ostream&) {
  static constexpr OptionRule rules[] = {{"--output", 'o', true}, {"--seed", 0, true}, {"--eigenvalues", 0, true}};
  const Parsed p = parse_arguments(args, rules);
  if (p.help) return out << gen_help, exit_ok;
  require_operands(p, 2, "kind and order");
  const KindInfo* kind = find_kind(p.positional[0]);
  if (kind == nullptr) {
    std::string names;
    for (const KindInfo& info : kinds()) names += (names.empty() ? "" : ", ") + std::string(info.name);
    throw UsageError("unknown kind '" + p.positional[0] + "'; the kinds are " + names);
  }
  const std::int64_t n = order_operand(p.positional[1]);
  const std::uint64_t seed = p.has("--seed") ? seed_value(*p.value("--seed")) : 1;
  const std::optional<std::string> eigen_file = p.value("--eigenvalues");
  if (eigen_file && !kind->known_spectrum)
    throw UsageError("no exact spectrum is known for kind '" + std::string(kind->name) + "'");
  const std::string output = p.value("--output").value_or(std::string(blockeig::run::matrix_file_name));
  const Generated g = generate(kind->kind, static_cast<std::int32_t>(n), seed);
  std::vector<OutputFile> files{{output, [&](const ByteSink& sink) { emit_scr(g.matrix, ByteOrder::little, sink); }}};
  if (eigen_file) {
    files.push_back({*eigen_file, [&](const ByteSink& sink) {
                       std::string text;
                       for (double v : *g.eigenvalues) text += shortest_text(v) + '\n';
                       sink(as_bytes(text));
                     }});
  }
  write_files(files);
  out << "wrote " << output << ": " << kind->name << ", N = " << n << '\n';
  return exit_ok;
}

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

void write_text(const std::string& path, const std::string& text) {
  write_file_atomically(path, [&](const ByteSink& sink) { sink(as_bytes(text)); });
}

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

struct Command {
  std::string_view name;
  int (*run)(std::span<const std::string>, std::ostream&, std::ostream&);
};

constexpr Command commands[] = {
    {"import", run_import}, {"export", run_export}, {"info", run_info}, {"gen", run_gen}, {"plot", run_plot},
    {"compare", run_compare}, {"study", run_study_command}};

}  // namespace

int run_scrtool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << "scrtool: missing command\nTry 'scrtool --help'.\n";
    return exit_error;
  }
  const std::string& first = args[0];
  if (first == "-h" || first == "--help" || first == "help") {
    if (first == "help" && args.size() > 1) return run_scrtool({args[1], "--help"}, out, err);
    out << main_help;
    return exit_ok;
  }
  if (first == "-V" || first == "--version") {
    out << "scrtool (blockeig) " << BLOCKEIG_VERSION << '\n';
    return exit_ok;
  }
  for (const Command& command : commands) {
    if (first != command.name) continue;
    try {
      const int status = command.run(std::span(args).subspan(1), out, err);
      out.flush();
      return status;
    } catch (const UsageError& e) {
      err << "scrtool " << command.name << ": " << e.what() << "\nTry 'scrtool " << command.name << " --help'.\n";
    } catch (const ToolError& e) {
      err << "scrtool " << command.name << ": " << e.what() << '\n';
    } catch (const std::bad_alloc&) {
      err << "scrtool " << command.name << ": out of memory\n";
    }
    return exit_error;
  }
  err << "scrtool: unknown command '" << first << "'\nTry 'scrtool --help'.\n";
  return exit_error;
}

}  // namespace scrtool
