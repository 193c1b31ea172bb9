#include "tools/scrtool_cli.hpp"

#include <charconv>
#include <map>
#include <optional>
#include <span>
#include <string_view>

#include "tools/file_io.hpp"
#include "tools/generators.hpp"
#include "tools/matrix_market.hpp"
#include "tools/npy_file.hpp"
#include "tools/scr_file.hpp"
#include "tools/scr_inspect.hpp"
#include "tools/scrtool_help.hpp"
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
    if (rule == nullptr) throw UsageError("unknown option '" + name + "'");
    const std::string key(rule->long_name);
    if (p.has(key)) throw UsageError("option '" + name + "' given twice");
    if (!rule->takes_value) {
      if (equals != std::string::npos) throw UsageError("option '" + name + "' takes no value");
      p.options[key] = "";
    } else if (equals != std::string::npos) {
      p.options[key] = arg.substr(equals + 1);
    } else {
      if (k + 1 == args.size()) throw UsageError("option '" + name + "' needs a value");
      p.options[key] = args[++k];
    }
    if (rule->takes_value && p.options[key].empty()) throw UsageError("option '" + name + "' needs a value");
  }
  return p;
}

void require_operands(const Parsed& p, std::size_t count, const char* what) {
  if (p.positional.size() < count) throw UsageError(std::string("missing ") + what);
  if (p.positional.size() > count) throw UsageError("unexpected argument '" + p.positional[count] + "'");
}

std::string_view extension_of(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return path.substr(dot);
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::span<const std::uint8_t> as_bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

ByteSink stream_sink(std::ostream& out) {
  return [&out](std::span<const std::uint8_t> piece) {
    out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
  };
}

// The input format: the extension where it names one, else the content.
Matrix read_any_matrix(const std::string& path) {
  const std::string text = read_file(path);
  const std::string ext = lower(extension_of(path));
  if (ext == ".npy") return read_npy(as_bytes(text), path);
  if (ext == ".mtx" || ext == ".mm") return read_matrix_market(text, path);
  if (text.starts_with("\x93NUMPY")) return read_npy(as_bytes(text), path);
  if (lower(text.substr(0, 14)) == "%%matrixmarket") return read_matrix_market(text, path);
  return read_text_matrix(text, path);
}

std::string order_name(ByteOrder order) { return order == ByteOrder::little ? "little-endian" : "big-endian"; }

int run_import(std::span<const std::string> args, std::ostream& out) {
  static constexpr OptionRule rules[] = {{"--output", 'o', true}, {"--big-endian", 0, false}};
  const Parsed p = parse_arguments(args, rules);
  if (p.help) return out << import_help, exit_ok;
  require_operands(p, 1, "input file");
  const std::string output = p.value("--output").value_or(std::string(blockeig::matrix_file_name));
  const ByteOrder order = p.has("--big-endian") ? ByteOrder::big : ByteOrder::little;
  const Matrix m = read_any_matrix(p.positional[0]);
  write_file_atomically(output, [&](const ByteSink& sink) { emit_scr(m, order, sink); });
  out << "wrote " << output << ": N = " << m.n << ", " << 20 + 8 * m.a.size() << " bytes, " << order_name(order)
      << '\n';
  return exit_ok;
}

int run_export(std::span<const std::string> args, std::ostream& out) {
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
      throw UsageError("cannot tell the format of '" + *output + "' from its extension; use .mtx, .npy or .txt");
  }
  const std::string& input = p.positional[0];
  const FileSource file(input);
  const OrderGuess guess = detect_byte_order(file);
  Matrix m;
  try {
    m = read_scr(file, guess.order);
  } catch (const ToolError& e) {
    throw ToolError(input + ": " + e.what());
  }
  if (!output || *output == "-") {
    emit(m, stream_sink(out));
    return exit_ok;
  }
  write_file_atomically(*output, [&](const ByteSink& sink) { emit(m, sink); });
  return exit_ok;
}

int run_info(std::span<const std::string> args, std::ostream& out) {
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

int run_gen(std::span<const std::string> args, std::ostream& out) {
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
  const std::string output = p.value("--output").value_or(std::string(blockeig::matrix_file_name));
  const Generated g = generate(kind->kind, static_cast<std::int32_t>(n), seed);
  write_file_atomically(output, [&](const ByteSink& sink) { emit_scr(g.matrix, ByteOrder::little, sink); });
  if (eigen_file) {
    write_file_atomically(*eigen_file, [&](const ByteSink& sink) {
      std::string text;
      for (double v : *g.eigenvalues) text += shortest_text(v) + '\n';
      sink(as_bytes(text));
    });
  }
  out << "wrote " << output << ": " << kind->name << ", N = " << n << '\n';
  return exit_ok;
}

int run_plot(std::span<const std::string> args, std::ostream& out) {
  static constexpr OptionRule rules[] = {{"--output", 'o', true}};
  const Parsed p = parse_arguments(args, rules);
  if (p.help) return out << plot_help, exit_ok;
  require_operands(p, 1, "transcript file");
  const std::string output = p.value("--output").value_or("sweeps.svg");
  const std::string& input = p.positional[0];
  const Transcript t = read_transcript(read_file(input), input);
  const std::string svg = render_sweep_plot(t, input);
  write_file_atomically(output, [&](const ByteSink& sink) { sink(as_bytes(svg)); });
  out << "wrote " << output << ": " << t.sweeps.size() << (t.sweeps.size() == 1 ? " sweep" : " sweeps") << '\n';
  return exit_ok;
}

struct Command {
  std::string_view name;
  int (*run)(std::span<const std::string>, std::ostream&);
};

constexpr Command commands[] = {
    {"import", run_import}, {"export", run_export}, {"info", run_info}, {"gen", run_gen}, {"plot", run_plot}};

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
  if (first == "--version") {
    out << "scrtool (blockeig) " << BLOCKEIG_VERSION << '\n';
    return exit_ok;
  }
  for (const Command& command : commands) {
    if (first != command.name) continue;
    try {
      const int status = command.run(std::span(args).subspan(1), out);
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
