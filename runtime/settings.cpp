#include "runtime/settings.hpp"

#include <charconv>
#include <cstdlib>
#include <limits>

#include "runtime/processors.hpp"

#include "runtime/printable.hpp"

namespace blockeig::runtime {

namespace {

Settings current;
std::vector<SettingReport> reports;
std::span<const CommandLineSetting> command_line;

constexpr std::string_view convert_names[convert_count] = {"native", "little_endian", "big_endian", "swap"};

const char* environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// A setting's value from the command line, else from the environment; the
// source as --settings shows it.
struct Given {
  std::string value;
  const char* source = "default";
  bool found() const { return source[0] != 'd'; }
};

Given given(std::string_view name) {
  // The last one given wins.
  for (auto it = command_line.rbegin(); it != command_line.rend(); ++it)
    if (it->name == name) return {std::string(it->value), "command line"};
  if (const char* value = environment(std::string(name).c_str())) return {value, "environment"};
  return {};
}

// The message for a value that a setting does not take: "NAME=VALUE is not
// WHAT", the value shown printable and cut (it comes from the environment).
std::string refusal(std::string_view name, std::string_view value, std::string_view what) {
  return std::string(name) + "=" + printable(value, echo_limit) + " is not " + std::string(what);
}

// The default thread count and where it came from, as --settings shows it.
struct DefaultThreads {
  int count;
  std::string source;
};

DefaultThreads default_threads() {
  const Processors processors = available_processors();
  std::string source = "default: " + std::string(processors.source);
  if (processors.count <= max_threads) return {processors.count, source};
  return {max_threads, source + ", at most " + std::to_string(max_threads)};
}

std::string load_convert() {
  const char* value = environment("BLOCKEIG_CONVERT");
  if (value == nullptr) {
    reports.push_back({"BLOCKEIG_CONVERT", "native", "default"});
    return {};
  }
  for (std::size_t i = 0; i < std::size(convert_names); ++i) {
    if (convert_names[i] == value) {
      current.convert = static_cast<Convert>(i);
      reports.push_back({"BLOCKEIG_CONVERT", value, "environment"});
      return {};
    }
  }
  return refusal("BLOCKEIG_CONVERT", value, "a byte order; use native, little_endian, big_endian or swap");
}

std::string load_threads() {
  const char* value = environment("BLOCKEIG_THREADS");
  if (value == nullptr) {
    const DefaultThreads threads = default_threads();
    current.threads = threads.count;
    reports.push_back({"BLOCKEIG_THREADS", std::to_string(threads.count), threads.source});
    return {};
  }
  const std::string_view text(value);
  int threads = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), threads);
  if (error != std::errc() || end != text.data() + text.size() || threads < 1 || threads > max_threads)
    return refusal("BLOCKEIG_THREADS", value, "a thread count; use a whole number from 1 to " + std::to_string(max_threads));
  current.threads = threads;
  reports.push_back({"BLOCKEIG_THREADS", value, "environment"});
  return {};
}

std::string load_progress() {
  const char* value = environment("BLOCKEIG_PROGRESS");
  if (value == nullptr) {
    reports.push_back({"BLOCKEIG_PROGRESS", "1", "default"});
    return {};
  }
  const std::string_view text(value);
  if (text != "0" && text != "1")
    return refusal("BLOCKEIG_PROGRESS", value, "a switch; use 0 (off) or 1 (on)");
  current.progress = text == "1";
  reports.push_back({"BLOCKEIG_PROGRESS", value, "environment"});
  return {};
}

std::string load_results() {
  const Given results = given("BLOCKEIG_RESULTS");
  current.results = results.value;
  reports.push_back({"BLOCKEIG_RESULTS", results.found() ? results.value : "none", results.source});
  return {};
}

std::string load_checkpoint() {
  const Given checkpoint = given("BLOCKEIG_CHECKPOINT");
  current.checkpoint = checkpoint.value;
  reports.push_back({"BLOCKEIG_CHECKPOINT", checkpoint.found() ? checkpoint.value : "none", checkpoint.source});
  return {};
}

std::string load_checkpoint_seconds() {
  const char* value = environment("BLOCKEIG_CHECKPOINT_SECONDS");
  if (value == nullptr) {
    reports.push_back({"BLOCKEIG_CHECKPOINT_SECONDS", std::to_string(current.checkpoint_seconds), "default"});
    return {};
  }
  const std::string_view text(value);
  int seconds = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error != std::errc() || end != text.data() + text.size() || seconds < 0)
    return refusal("BLOCKEIG_CHECKPOINT_SECONDS", value,
                   "a number of seconds; use a whole number from 0 to " + std::to_string(std::numeric_limits<int>::max()));
  current.checkpoint_seconds = seconds;
  reports.push_back({"BLOCKEIG_CHECKPOINT_SECONDS", value, "environment"});
  return {};
}

constexpr std::string_view kernels_names[] = {"auto", "scalar"};

std::string load_kernels() {
  const std::string message = kernels_setting(current.kernels);
  if (message.empty())
    reports.push_back({"BLOCKEIG_KERNELS", std::string(kernels_names[static_cast<int>(current.kernels)]),
                       environment("BLOCKEIG_KERNELS") != nullptr ? "environment" : "default"});
  return message;
}

// The sweeps' rule from the command line; the options have checked their
// values already (read_command_line), so a refusal here is a caller's slip.
std::string load_sweep_rule() {
  for (const CommandLineSetting& setting : command_line) {
    if (setting.name == tol_option && !parse_tolerance(setting.value, current.sweep_rule.TOL))
      return refusal(tol_option, setting.value, "a tolerance; use a positive number such as 1e-9");
    if (setting.name == max_sweeps_option && !parse_sweep_limit(setting.value, current.sweep_rule.max_sweeps))
      return refusal(max_sweeps_option, setting.value,
                     "a sweep limit; use a whole number from 1 to " + std::to_string(run::max_sweeps_limit));
  }
  return {};
}

}  // namespace

bool parse_tolerance(std::string_view text, double& TOL) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !run::SweepRule{value}.valid()) return false;
  TOL = value;
  return true;
}

bool parse_sweep_limit(std::string_view text, std::int32_t& max_sweeps) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !run::SweepRule{run::TOL, value}.valid())
    return false;
  max_sweeps = value;
  return true;
}

std::string kernels_setting(Kernels& kernels) {
  const char* value = environment("BLOCKEIG_KERNELS");
  if (value == nullptr) {
    kernels = Kernels::automatic;
    return {};
  }
  for (std::size_t i = 0; i < std::size(kernels_names); ++i) {
    if (kernels_names[i] == value) {
      kernels = static_cast<Kernels>(i);
      return {};
    }
  }
  return refusal("BLOCKEIG_KERNELS", value, "a kernel choice; use auto or scalar");
}

int default_thread_count() { return default_threads().count; }

std::string load_settings(std::span<const CommandLineSetting> from_command_line) {
  current = Settings{};
  reports.clear();
  command_line = from_command_line;
  std::string message;
  for (auto load : {load_convert, load_threads, load_progress, load_results, load_checkpoint, load_checkpoint_seconds,
                    load_kernels, load_sweep_rule}) {
    message = load();
    if (!message.empty()) break;
  }
  command_line = {};  // the caller's storage
  return message;
}

const Settings& settings() { return current; }

std::vector<SettingReport> describe_settings() { return reports; }

std::string_view convert_name(Convert convert) { return convert_names[static_cast<std::size_t>(convert)]; }

bool swap_unformatted_bytes() { return reads_big_endian(current.convert); }

}  // namespace blockeig::runtime
