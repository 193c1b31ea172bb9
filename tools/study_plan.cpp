#include "tools/study_plan.hpp"

#include <algorithm>

#include "runtime/run_constants.hpp"
#include "runtime/settings.hpp"
#include "tools/command_arguments.hpp"
#include "tools/matrix.hpp"
#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

using command::UsageError;

// The items of "a,b,c", each checked by `accepts` (which gives its value)
// and given once.
template <typename Value, typename Accepts>
std::vector<std::pair<std::string, Value>> items_of(const std::string& text, const std::string& option,
                                                    const std::string& what, const std::string& one,
                                                    Accepts&& accepts) {
  std::vector<std::pair<std::string, Value>> items;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string item = text.substr(at, comma - at);
    Value value{};
    if (!accepts(item, value))
      throw UsageError(option + " takes " + what + "; '" + printable(item) + "' is not " + one);
    if (std::any_of(items.begin(), items.end(), [&](const auto& seen) { return seen.second == value; }))
      throw UsageError(option + " names " + printable(item) + " twice");
    items.emplace_back(item, value);
    at = comma + 1;
  }
  return items;
}

bool block_count(const std::string& item, std::int32_t& count) {
  std::int64_t value = 0;
  if (!parse_integer(item, value) || value < 1 || value > max_order) return false;
  count = static_cast<std::int32_t>(value);
  return true;
}

// N allows blockeig::run::max_block_count(N) blocks at most. The default
// counts beyond that are left out, with a note; counts asked for are
// refused before anything runs.
void keep_counts_for_order(std::vector<std::pair<std::string, std::int32_t>>& counts, std::optional<std::int32_t> n,
                           bool asked, std::ostream& err) {
  if (!n || *n < blockeig::run::min_matrix_order) return;
  const std::int32_t most = blockeig::run::max_block_count(*n);
  std::string left_out;
  for (const auto& [text, count] : counts)
    if (count > most) left_out += (left_out.empty() ? "" : ", ") + std::to_string(count);
  if (left_out.empty()) return;
  const std::string limit = "N = " + std::to_string(*n) + " allows 1 to " + std::to_string(most) + " blocks";
  if (asked) throw UsageError("--blocks " + left_out + ": " + limit);
  std::erase_if(counts, [&](const auto& item) { return item.second > most; });
  err << "scrtool study: " << limit << "; leaving out " << left_out << '\n';
}

std::string blocks_text(std::int32_t nblocks) { return std::to_string(nblocks) + (nblocks == 1 ? " block" : " blocks"); }

}  // namespace

StudyRuns plan_study_runs(const StudyRequest& request, std::optional<std::int32_t> n, std::ostream& err) {
  auto counts = items_of<std::int32_t>(request.blocks.value_or("1,2,4,8"), "--blocks",
                                       "block counts separated by commas, such as 1,2,4,8", "a count", block_count);
  const auto tols = items_of<double>(request.tol.value_or(""), "--tol",
                                     "tolerances separated by commas, such as 1e-6,1e-9,1e-12", "a tolerance",
                                     [&](const std::string& item, double& TOL) {
                                       return !request.tol || blockeig::runtime::parse_tolerance(item, TOL);
                                     });
  const auto limits = items_of<std::int32_t>(request.max_sweeps.value_or(""), "--max-sweeps",
                                             "sweep limits from 1 to 99999 separated by commas, such as 50,101,400", "a sweep limit",
                                             [&](const std::string& item, std::int32_t& most) {
                                               return !request.max_sweeps ||
                                                      blockeig::runtime::parse_sweep_limit(item, most);
                                             });
  const bool by_tol = tols.size() > 1, by_limit = limits.size() > 1;
  if (by_tol && by_limit) throw UsageError("vary one of --blocks, --tol and --max-sweeps at a time");
  if ((by_tol || by_limit) && (!request.blocks || counts.size() > 1))
    throw UsageError(std::string(by_tol ? "--tol" : "--max-sweeps") +
                     " with several values needs one block count (--blocks K)");
  keep_counts_for_order(counts, n, request.blocks.has_value(), err);

  StudyRuns plan;
  plan.varied = by_tol ? "TOL" : by_limit ? "sweep limit" : "number of blocks";
  const std::size_t count = std::max({counts.size(), tols.size(), limits.size()});
  for (std::size_t k = 0; k < count && !counts.empty(); ++k) {
    StudyRun run;
    run.nblocks = counts[std::min(k, counts.size() - 1)].second;
    run.label = blocks_text(run.nblocks);
    run.suffix = std::to_string(run.nblocks);
    if (request.tol) run.tol = tols[std::min(k, tols.size() - 1)].first;
    if (request.max_sweeps) run.max_sweeps = limits[std::min(k, limits.size() - 1)].first;
    if (!run.tol.empty()) run.label += ", TOL " + run.tol;
    if (!run.max_sweeps.empty()) run.label += ", at most " + run.max_sweeps + " sweeps";
    if (by_tol) run.suffix += "-tol" + run.tol;
    if (by_limit) run.suffix += "-sweeps" + run.max_sweeps;
    plan.runs.push_back(run);
  }
  return plan;
}

}  // namespace scrtool
