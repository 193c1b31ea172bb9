#pragma once
// The run-time settings, read once at start-up from the environment.
//
//   BLOCKEIG_CONVERT   native | little_endian | big_endian | swap
//                      byte order of every unformatted unit (default native,
//                      which is little-endian here)
//   BLOCKEIG_THREADS   number of threads for the O(n^3) loops, 1 to
//                      max_threads (default: the number of cores, at most
//                      max_threads); a run uses exactly that many
//   BLOCKEIG_PROGRESS  0 turns the progress display on a terminal off
//                      (default 1)
#include <string>
#include <string_view>
#include <vector>

namespace blockeig::runtime {

// The largest BLOCKEIG_THREADS accepted. The thread pool has no limit of its
// own: a run uses the count its settings report.
inline constexpr int max_threads = 1024;

enum class Convert { native, little_endian, big_endian, swap };

struct Settings {
  Convert convert = Convert::native;
  int threads = 1;
  bool progress = true;
};

// One setting as `--settings` lists it.
struct SettingReport {
  std::string name;
  std::string value;
  std::string source;  // "environment" or "default"
};

// Reads the environment. Returns an empty string, or a message naming the
// setting, its value and what is allowed.
std::string load_settings();
const Settings& settings();
// Every setting with its current value and where it came from.
std::vector<SettingReport> describe_settings();
// Whether unformatted units reverse bytes under the current setting.
bool swap_unformatted_bytes();

}  // namespace blockeig::runtime
