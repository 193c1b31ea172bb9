#include "driver/command_line.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "arithmetic/extended.hpp"
#include "arithmetic/extended_kernels.hpp"
#include "io/statements.hpp"
#include "runtime/printable.hpp"
#include "runtime/run_constants.hpp"
#include "runtime/settings.hpp"

namespace blockeig {

namespace {

constexpr std::string_view usage_text =
    R"(Usage: blockeig [--results FILE] [--checkpoint FILE] [--tol X] [--max-sweeps K]
                [-h | --help | -V | --version | --settings]
)";

// "{sweep rule}" stands for the rule that ends the sweeps, "{TOL}", "{max
// sweeps}" and "{sweep limit}" for its TOL, its sweeps and the most sweeps
// --max-sweeps takes.
constexpr std::string_view help_text =
    R"(
Computes all eigenvalues of the real symmetric matrix in A.SCR twice: directly
(Householder reduction and implicit-shift QL in extended precision) and by
block Rayleigh-Ritz sweeps, and prints both for comparison.

Files, in the working directory:
  A.SCR       read: unformatted sequential records, the order N (4-byte
              integer), then the N x N matrix as doubles, column by column
  C.SCR.TXT   written: the N direct eigenvalues, one numbered line each

Standard input: after " Number of blocks:" one integer from 1 to N/2.
Standard output: progress lines, the summary E(1) E(2) E(N-1) E(N), the block
table, one line per block and sweep, one line per sweep (ITER, E(1), E(2),
E(N-1), E(N), DELTA, TOL). Sweeps stop when {sweep rule}
(--tol and --max-sweeps change both).

Exit status: 0 normal end; 1 memory allocation failed; 2 input/output error,
bad setting or option, results file or checkpoint not written, or a
checkpoint that does not fit the run (report on standard error); 3 internal
error; 4 a second failure during a report; 95 processor exception.

Settings (environment):
  BLOCKEIG_CONVERT   native | little_endian | big_endian | swap  (A.SCR byte order)
  BLOCKEIG_THREADS   threads for the large loops (default: one per processor
                     the run is given); results are the same for every count
  BLOCKEIG_PROGRESS  0 turns off the progress line shown on a terminal
  BLOCKEIG_RESULTS   FILE: also write every number at full precision to FILE,
                     a JSON document replaced after each phase and sweep
  BLOCKEIG_CHECKPOINT  FILE: keep the state of the sweeps in FILE, replaced
                     at the end of a sweep; started again the same way,
                     blockeig resumes from it with the same output; a
                     finished run removes it
  BLOCKEIG_CHECKPOINT_SECONDS  least seconds between two checkpoints (60)
  BLOCKEIG_KERNELS   auto | scalar: the kernels chosen for this processor
                     (--version names them), or the plain loops; the output
                     is the same bytes

Options:
  --results FILE     the same as BLOCKEIG_RESULTS=FILE, and wins over it
  --checkpoint FILE  the same as BLOCKEIG_CHECKPOINT=FILE, and wins over it
  --tol X            stop the sweeps when DELTA <= X (a positive number)
                     instead of {TOL}; the sweep lines show it as TOL
  --max-sweeps K     stop the sweeps after K (1 to {sweep limit}) instead of {max sweeps}
  -h, --help         this text
  -V, --version      the version and the kernels in use
  --settings         the settings in effect and where each comes from
Any other argument that begins with '-' is refused before the run (exit
status 2), and so is a FILE that begins with "--" (write ./--name for such a
file). blockeig reads no other argument: it warns of one and runs on A.SCR.
)";

// The option table below names the largest sweep limit.
static_assert(run::max_sweeps_limit == 99999);

// Whether a value of --tol or --max-sweeps is one the sweeps can follow.
bool tolerance(std::string_view text) {
  double TOL = 0;
  return runtime::parse_tolerance(text, TOL);
}
bool sweep_limit(std::string_view text) {
  std::int32_t max_sweeps = 0;
  return runtime::parse_sweep_limit(text, max_sweeps);
}

// The options. A setting option gives the setting named, with a value that
// `accepts` checks when it is given.
struct Option {
  std::string_view spelling;
  Request request = Request::run;
  std::string_view setting = {};
  std::string_view value_name = {};
  bool (*accepts)(std::string_view) = nullptr;
};

constexpr Option options[] = {
    {"--help", Request::help},
    {"-h", Request::help},
    {"--version", Request::version},
    {"-V", Request::version},
    {"--settings", Request::settings},
    {"--results", Request::run, "BLOCKEIG_RESULTS", "a file name"},
    {"--checkpoint", Request::run, "BLOCKEIG_CHECKPOINT", "a file name"},
    {runtime::tol_option, Request::run, runtime::tol_option, "a positive number", tolerance},
    {runtime::max_sweeps_option, Request::run, runtime::max_sweeps_option, "a whole number from 1 to 99999",
     sweep_limit},
};

// The settings taken from the environment only: an option spelled like one
// of them (--threads) is pointed there.
constexpr std::string_view environment_settings[] = {"BLOCKEIG_CONVERT", "BLOCKEIG_THREADS", "BLOCKEIG_PROGRESS",
                                                     "BLOCKEIG_CHECKPOINT_SECONDS"};

const Option* find_option(std::string_view spelling) {
  for (const Option& option : options)
    if (option.spelling == spelling) return &option;
  return nullptr;
}

// An option's or a setting's name as people type it: lower case, '-' for
// '_', without leading dashes or the blockeig- prefix ("--Results" and
// "BLOCKEIG_CHECKPOINT_SECONDS" give "results" and "checkpoint-seconds").
std::string bare_word(std::string_view name) {
  std::string word(name);
  for (char& c : word) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '_') c = '-';
  }
  word.erase(0, word.find_first_not_of('-'));
  if (word.starts_with("blockeig-")) word.erase(0, 9);
  return word;
}

// The number of single-character insertions, deletions, substitutions and
// swaps of neighbours that turn `a` into `b`.
std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::array<std::size_t, 3>> d(b.size() + 1);  // rows i-2, i-1, i
  for (std::size_t j = 0; j <= b.size(); ++j) d[j][1] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    d[0][2] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[j][2] = std::min({d[j - 1][2] + 1, d[j][1] + 1, d[j - 1][1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[j][2] = std::min(d[j][2], d[j - 2][0] + 1);
    }
    for (auto& row : d) row = {row[1], row[2], 0};
  }
  return d[b.size()][1];
}

// How far `word` is from `candidate`, both bare: 0 for the candidate itself
// or a start of it of three letters or more; otherwise the edit distance,
// when it is within a third of the candidate's length.
std::optional<std::size_t> nearness(const std::string& word, const std::string& candidate) {
  if (word.size() >= 3 && candidate.starts_with(word)) return 0;
  const std::size_t distance = edit_distance(word, candidate);
  if (distance <= candidate.size() / 3) return distance;
  return std::nullopt;
}

// "unknown option 'ARGUMENT'", with the nearest option or environment
// setting when one is near.
std::string unknown_option(std::string_view argument, std::string_view name) {
  std::string message = "unknown option '" + runtime::printable(argument, runtime::echo_limit) + "'";
  // Longer words are nobody's attempt at an option's name.
  if (name.size() > 40) return message;
  const std::string word = bare_word(name);
  std::string_view best_option, best_setting;
  std::size_t best = std::numeric_limits<std::size_t>::max();
  for (const Option& option : options) {
    const std::optional<std::size_t> near = nearness(word, bare_word(option.spelling));
    if (near && *near < best) best = *near, best_option = option.spelling;
  }
  for (const std::string_view setting : environment_settings) {
    const std::optional<std::size_t> near = nearness(word, bare_word(setting));
    if (near && *near < best) best = *near, best_option = {}, best_setting = setting;
  }
  if (!best_option.empty()) message += " (did you mean '" + std::string(best_option) + "'?)";
  if (!best_setting.empty()) message += " (the setting " + std::string(best_setting) + " is taken from the environment)";
  return message;
}

// One line of the settings table: name, value and source in columns, the
// names as wide as the longest; a long value (a file's path) pushes its
// source to the right.
std::string settings_row(std::string_view name, std::string_view value, std::string_view source,
                         std::size_t name_width) {
  const auto padded = [](std::string_view text, std::size_t width) {
    std::string field(text);
    if (field.size() < width) field.append(width - field.size(), ' ');
    return field;
  };
  return padded(name, name_width) + " " + padded(value, 14) + " " + std::string(source) + "\n";
}

}  // namespace

CommandLine read_command_line(int argc, const char* const* argv) {
  CommandLine line;
  const auto mistake = [&line](std::string message) {
    if (line.mistake.empty()) line.mistake = std::move(message);
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (!argument.starts_with('-')) {
      line.operands.push_back(argument);
      continue;
    }
    const std::size_t equals = argument.find('=');
    const std::string_view name = argument.substr(0, equals);
    const Option* option = find_option(name);
    if (option == nullptr) {
      mistake(unknown_option(argument, name));
    } else if (option->setting.empty()) {
      if (equals != std::string_view::npos) mistake("option '" + std::string(name) + "' takes no value");
      if (line.request == Request::run) line.request = option->request;
    } else {
      std::string_view value;
      if (equals != std::string_view::npos) value = argument.substr(equals + 1);
      else if (i + 1 < argc) value = argv[++i];
      const std::string needs = "option '" + std::string(name) + "' needs " + std::string(option->value_name);
      // `--results --checkpoint x` is a forgotten value, not a file named
      // "--checkpoint".
      if (value.empty()) mistake(needs);
      else if (option->accepts != nullptr && !option->accepts(value))
        mistake(needs + ", not '" + runtime::printable(value, runtime::echo_limit) + "'");
      else if (value.starts_with("--"))
        mistake(needs + ", not '" + runtime::printable(value, runtime::echo_limit) +
                "' (for a file of that name, write ./" + runtime::printable(value, runtime::echo_limit) + ")");
      else line.settings.push_back({option->setting, value});
    }
  }
  return line;
}

void refuse_command_line(std::string_view mistake) {
  io::write_standard_error("blockeig: " + std::string(mistake) + "\n" + std::string(usage_text));
}

void warn_of_operands(const std::vector<std::string_view>& operands) {
  if (operands.empty()) return;
  // One line, however many words a shell pattern gave.
  constexpr std::size_t named = 3;
  std::string text = operands.size() == 1 ? "blockeig: warning: argument " : "blockeig: warning: arguments ";
  for (std::size_t k = 0; k < operands.size() && k < named; ++k)
    text += (k > 0 ? ", '" : "'") + runtime::printable(operands[k], runtime::echo_limit) + "'";
  if (operands.size() > named) text += " and " + std::to_string(operands.size() - named) + " more";
  text += operands.size() == 1 ? " is" : " are";
  text += " not read: the matrix is always read from " + std::string(run::matrix_file_name) +
          " in the working directory\n";
  io::write_standard_error(text);
}

// TOL as the help writes it: 1.0e-6.
std::string tolerance_text(double TOL) {
  char digits[32];
  const auto end = std::to_chars(digits, digits + sizeof digits, TOL, std::chars_format::scientific).ptr;
  const std::string_view shortest(digits, static_cast<std::size_t>(end - digits));  // "1e-06"
  const std::size_t e = shortest.find('e');
  std::string text(shortest.substr(0, e));
  if (text.find('.') == std::string::npos) text += ".0";
  return text + "e" + std::to_string(std::stoi(std::string(shortest.substr(e + 1))));
}

void print_help() {
  const std::string rule =
      "DELTA <= " + tolerance_text(run::TOL) + " or after " + std::to_string(run::max_sweeps);
  const std::pair<std::string_view, std::string> facts[] = {
      {"{sweep rule}", rule},
      {"{TOL}", tolerance_text(run::TOL)},
      {"{max sweeps}", std::to_string(run::max_sweeps)},
      {"{sweep limit}", std::to_string(run::max_sweeps_limit)}};
  std::string help(help_text);
  for (const auto& [placeholder, value] : facts) help.replace(help.find(placeholder), placeholder.size(), value);
  io::write_standard_output(std::string(usage_text) + help);
}

void use_kernels(runtime::Kernels kernels) {
  kernels::choose(kernels == runtime::Kernels::scalar ? kernels::Choice::scalar : kernels::Choice::processor);
}

bool print_version() {
  runtime::Kernels kernels = runtime::Kernels::automatic;
  if (const std::string problem = runtime::kernels_setting(kernels); !problem.empty()) {
    io::write_standard_error("blockeig: " + problem + "\n");
    return false;
  }
  use_kernels(kernels);
  io::write_standard_output(std::string("blockeig ") + BLOCKEIG_VERSION + " (" + std::string(extended_arithmetic) +
                            " extended arithmetic)\nkernels: " + std::string(kernels::in_use()) + "\n");
  return true;
}

void print_settings() {
  const std::vector<runtime::SettingReport> settings = runtime::describe_settings();
  std::size_t name_width = 0;
  for (const runtime::SettingReport& setting : settings) name_width = std::max(name_width, setting.name.size());
  std::string table = settings_row("SETTING", "VALUE", "FROM", name_width);
  for (const runtime::SettingReport& setting : settings)
    table += settings_row(setting.name, runtime::printable(setting.value, runtime::echo_limit), setting.source,
                          name_width);
  io::write_standard_output(table);
}

}  // namespace blockeig
