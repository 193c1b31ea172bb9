// scrtool's commands on matrix files: import, export, info and gen.
#include <charconv>
#include <functional>
#include <optional>

#include "runtime/printable.hpp"
#include "runtime/run_constants.hpp"
#include "tools/command_arguments.hpp"
#include "tools/file_io.hpp"
#include "tools/generators.hpp"
#include "tools/matrix_import.hpp"
#include "tools/matrix_market.hpp"
#include "tools/npy_file.hpp"
#include "tools/scr_file.hpp"
#include "tools/scr_inspect.hpp"
#include "tools/scrtool_commands.hpp"
#include "tools/scrtool_help.hpp"
#include "tools/symmetry.hpp"
#include "tools/text_matrix.hpp"
#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

namespace scrtool::command {

namespace {

ByteSink stream_sink(std::ostream& out) {
  return [&out](std::span<const std::uint8_t> piece) {
    out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
  };
}

// --format FORMAT, checked.
std::optional<std::string> format_option(const Parsed& p) {
  const std::optional<std::string> format = p.value("--format");
  if (format && !known_input_format(*format))
    throw UsageError("--format takes mtx, npy or txt, not '" + printable(*format) + "'");
  return format;
}

std::string order_name(ByteOrder order) { return order == ByteOrder::little ? "little-endian" : "big-endian"; }

std::optional<Symmetrize> symmetrize_rule(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  if (*text == "lower") return Symmetrize::lower;
  if (*text == "upper") return Symmetrize::upper;
  if (*text == "average") return Symmetrize::average;
  throw UsageError("--symmetrize takes lower, upper or average, not '" + printable(*text, blockeig::runtime::echo_limit) + "'");
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

}  // namespace

int run_import(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  static constexpr OptionRule rules[] = {
      {"--output", 'o', true}, {"--big-endian", 0, false}, {"--symmetrize", 0, true}, {"--format", 0, true}};
  const Parsed p = parse_arguments(args, rules);
  if (p.help) return out << import_help, exit_ok;
  require_operands(p, 1, "input file");
  const std::string output = p.value("--output").value_or(std::string(blockeig::run::matrix_file_name));
  const ByteOrder order = p.has("--big-endian") ? ByteOrder::big : ByteOrder::little;
  const std::optional<Symmetrize> rule = symmetrize_rule(p.value("--symmetrize"));
  refuse_outputs_over_inputs(std::span(&output, 1), p.positional);
  Matrix m = read_any_matrix(p.positional[0], format_option(p), "import", err);
  const Asymmetry asymmetry = find_asymmetry(m);
  if (rule) symmetrize(m, *rule);
  write_file_atomically(output, [&](const ByteSink& sink) { emit_scr(m, order, sink); });
  if (!rule) warn_if_not_symmetric(p.positional[0], m, "import", err);
  out << "wrote " << printable(output) << ": N = " << m.n << ", " << 20 + 8 * m.a.size() << " bytes, " << order_name(order);
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
  if (output) refuse_outputs_over_inputs(std::span(&*output, 1), p.positional);
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
  out << "wrote " << printable(output) << ": " << kind->name << ", N = " << n << '\n';
  return exit_ok;
}

}  // namespace scrtool::command
