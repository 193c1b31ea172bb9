#pragma once
// The layout of the results file (docs/results.md): its format version, the
// names of its members, the words of its state and the strings that stand
// for the numbers JSON cannot write. The program's writer and every reader
// (scrtool's, the Python module's) take them from here, so that a name is
// spelled once.
#include <string_view>

namespace blockeig::results_schema {

// Bumped when a member changes meaning or goes away; a reader refuses a
// version it does not know.
inline constexpr int format_version = 1;
inline constexpr std::string_view program_name = "blockeig";

// The members of the document, in the order the program writes them.
namespace key {
inline constexpr std::string_view format = "format";
inline constexpr std::string_view program = "program";
inline constexpr std::string_view settings = "settings";
inline constexpr std::string_view input = "input";
inline constexpr std::string_view direct = "direct";
inline constexpr std::string_view blocks = "blocks";
inline constexpr std::string_view sweeps = "sweeps";
inline constexpr std::string_view state = "state";
inline constexpr std::string_view end = "end";
inline constexpr std::string_view sweep_in_progress = "sweep_in_progress";
inline constexpr std::string_view failure = "failure";
inline constexpr std::string_view stop = "stop";
}  // namespace key

// Members shared by several sections.
namespace common_key {
inline constexpr std::string_view seconds = "seconds";
}  // namespace common_key

namespace program_key {
inline constexpr std::string_view name = "name";
inline constexpr std::string_view version = "version";
inline constexpr std::string_view arithmetic = "arithmetic";
inline constexpr std::string_view kernels = "kernels";
}  // namespace program_key

namespace settings_key {
inline constexpr std::string_view threads = "threads";
inline constexpr std::string_view byte_order = "byte_order";
}  // namespace settings_key

namespace input_key {
inline constexpr std::string_view path = "path";
inline constexpr std::string_view N = "N";
inline constexpr std::string_view bytes = "bytes";
inline constexpr std::string_view matrix_sha256 = "matrix_sha256";
}  // namespace input_key

namespace direct_key {
inline constexpr std::string_view IERR = "IERR";
inline constexpr std::string_view eigenvalues = "eigenvalues";
}  // namespace direct_key

namespace blocks_key {
inline constexpr std::string_view NBLOCKS = "NBLOCKS";
// The rule that ends the sweeps: DELTA <= TOL, or max_sweeps sweeps.
inline constexpr std::string_view TOL = "TOL";
inline constexpr std::string_view max_sweeps = "max_sweeps";
inline constexpr std::string_view layout = "layout";
}  // namespace blocks_key

// One entry of blocks.layout.
namespace layout_key {
inline constexpr std::string_view block = "block";
inline constexpr std::string_view dimension = "dimension";
inline constexpr std::string_view start = "start";
inline constexpr std::string_view end = "end";
}  // namespace layout_key

// One finished sweep (and the sweep in progress of a failed run).
namespace sweep_key {
inline constexpr std::string_view ITER = "ITER";
inline constexpr std::string_view W = "W";
inline constexpr std::string_view E1 = "E(1)";
inline constexpr std::string_view E2 = "E(2)";
inline constexpr std::string_view EN1 = "E(N-1)";
inline constexpr std::string_view EN = "E(N)";
inline constexpr std::string_view DELTA = "DELTA";
}  // namespace sweep_key

namespace end_key {
inline constexpr std::string_view converged = "converged";
inline constexpr std::string_view settled = "settled";
inline constexpr std::string_view sweeps = "sweeps";
inline constexpr std::string_view TOL = "TOL";
inline constexpr std::string_view accuracy = "accuracy";
inline constexpr std::string_view results_seconds = "results_seconds";
inline constexpr std::string_view E = "E";
inline constexpr std::string_view by_rank = "by_rank";
}  // namespace end_key

// How far the final E(1) lies from the direct lambda_1 (end.accuracy).
namespace accuracy_key {
inline constexpr std::string_view lambda_1 = "lambda_1";
inline constexpr std::string_view difference = "difference";
inline constexpr std::string_view norm_2 = "norm_2";
inline constexpr std::string_view relative = "relative";
inline constexpr std::string_view nearest_rank = "nearest_rank";
inline constexpr std::string_view relative_lambda_1 = "relative_lambda_1";
inline constexpr std::string_view gap = "gap";
inline constexpr std::string_view relative_gap = "relative_gap";
}  // namespace accuracy_key

// One entry of end.by_rank.
namespace pair_key {
inline constexpr std::string_view rank = "rank";
inline constexpr std::string_view position = "position";
inline constexpr std::string_view direct = "direct";
inline constexpr std::string_view block = "block";
}  // namespace pair_key

namespace failure_key {
inline constexpr std::string_view exit_status = "exit_status";
inline constexpr std::string_view report = "report";
}  // namespace failure_key

namespace stop_key {
inline constexpr std::string_view signal = "signal";
}  // namespace stop_key

// The values of "state".
namespace state_word {
inline constexpr std::string_view running = "running";
inline constexpr std::string_view finished = "finished";
inline constexpr std::string_view failed = "failed";
inline constexpr std::string_view stopped = "stopped";
}  // namespace state_word

// The members whose values are doubles, alone or in arrays (arrays of
// arrays for W; blocks.TOL shares end.TOL's name): where a number is NaN or
// infinite, a reader finds one of the words below in its place.
inline constexpr std::string_view number_members[] = {
    common_key::seconds,      end_key::results_seconds, direct_key::eigenvalues, sweep_key::W,
    sweep_key::E1,            sweep_key::E2,            sweep_key::EN1,          sweep_key::EN,
    sweep_key::DELTA,         end_key::TOL,             end_key::E,              pair_key::direct,
    pair_key::block,          accuracy_key::lambda_1,   accuracy_key::difference, accuracy_key::norm_2,
    accuracy_key::relative,   accuracy_key::relative_lambda_1, accuracy_key::gap, accuracy_key::relative_gap};

// The strings that stand where a number is NaN or infinite.
namespace number_word {
inline constexpr std::string_view nan = "NaN";
inline constexpr std::string_view infinity = "Infinity";
inline constexpr std::string_view minus_infinity = "-Infinity";
}  // namespace number_word

}  // namespace blockeig::results_schema
