#pragma once
// The run-time settings, read once at start-up from the environment.
//
//   BLOCKEIG_CONVERT   native | little_endian | big_endian | swap
//                      byte order of every unformatted unit (default native,
//                      which is little-endian here)
//   BLOCKEIG_THREADS   number of threads for the O(n^3) loops, 1 to
//                      max_threads (default: default_thread_count()); a run
//                      uses exactly that many
//   BLOCKEIG_PROGRESS  0 turns the progress display on a terminal off
//                      (default 1)
//   BLOCKEIG_RESULTS   the results file to write beside the normal output
//                      (default: none)
//   BLOCKEIG_CHECKPOINT the checkpoint file to write during the sweeps and
//                      resume from (default: none)
//   BLOCKEIG_CHECKPOINT_SECONDS  the least time between two checkpoints
//                      (default 60)
//   BLOCKEIG_KERNELS   auto | scalar: the kernels chosen for the processor
//                      (default auto), or the plain loops one sum at a time,
//                      for comparison; the numbers are the same bits
//
// A setting given on the command line wins over the environment. The rule
// that ends the sweeps is taken from the command line only (--tol,
// --max-sweeps): a run's numbers never depend on its environment.
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/run_constants.hpp"

namespace blockeig::runtime {

// The largest BLOCKEIG_THREADS accepted. The thread pool has no limit of its
// own: a run uses the count its settings report.
inline constexpr int max_threads = 1024;

// The thread count when none is set: one per processor this process is
// given (available_processors), at most max_threads. The thread pool starts
// with it as well.
int default_thread_count();

enum class Convert { native, little_endian, big_endian, swap };
// The number of BLOCKEIG_CONVERT's values.
inline constexpr int convert_count = static_cast<int>(Convert::swap) + 1;
// Whether record files are read big-endian under `convert`: big_endian, and
// swap on this little-endian machine.
constexpr bool reads_big_endian(Convert convert) { return convert == Convert::big_endian || convert == Convert::swap; }

// BLOCKEIG_KERNELS: the processor's kernels, or the plain loops.
enum class Kernels { automatic, scalar };

struct Settings {
  Convert convert = Convert::native;
  int threads = 1;
  bool progress = true;
  std::string results;     // empty: no results file
  std::string checkpoint;  // empty: no checkpoint
  int checkpoint_seconds = 60;
  Kernels kernels = Kernels::automatic;
  run::SweepRule sweep_rule;  // --tol, --max-sweeps
};

// The options that give the sweeps' rule, as settings of the command line.
inline constexpr std::string_view tol_option = "--tol";
inline constexpr std::string_view max_sweeps_option = "--max-sweeps";
// A value of --tol: a positive finite number ("1e-9", "0.5"); of
// --max-sweeps: a whole number from 1 to run::max_sweeps_limit. False, with
// the value untouched, for anything else.
bool parse_tolerance(std::string_view text, double& TOL);
bool parse_sweep_limit(std::string_view text, std::int32_t& max_sweeps);

// A setting given on the command line: its NAME and VALUE.
struct CommandLineSetting {
  std::string_view name;
  std::string_view value;
};

// One setting as `--settings` lists it.
struct SettingReport {
  std::string name;
  std::string value;
  std::string source;  // "command line", "environment" or "default" (for the
                       // thread count, "default: " and what decided it)
};

// Reads the command line's settings and the environment. Returns an empty
// string, or a message naming the setting, its value and what is allowed.
std::string load_settings(std::span<const CommandLineSetting> from_command_line = {});
const Settings& settings();
// BLOCKEIG_KERNELS alone, for the options that answer before the settings
// are read (--version): an empty string with `kernels` set, or the message
// that load_settings gives for a value it does not take.
std::string kernels_setting(Kernels& kernels);
// Every setting with its current value and where it came from.
std::vector<SettingReport> describe_settings();
// Whether unformatted units reverse bytes under the current setting.
bool swap_unformatted_bytes();
// The setting's own word for a byte order: "native", "big_endian", ...
std::string_view convert_name(Convert convert);

}  // namespace blockeig::runtime
