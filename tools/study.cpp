#include "tools/study.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "runtime/run_constants.hpp"
#include "records/json_text.hpp"
#include "runtime/results_schema.hpp"
#include "runtime/settings.hpp"
#include "tools/file_io.hpp"
#include "tools/json_value.hpp"
#include "tools/matrix_import.hpp"
#include "tools/scr_file.hpp"
#include "tools/plot_axes.hpp"
#include "tools/run_results.hpp"
#include "tools/runs_table.hpp"
#include "tools/sweep_plot.hpp"
#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

extern char** environ;

namespace scrtool {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view program_name = "blockeig";
constexpr std::string_view results_name = "results.json";
constexpr std::string_view blocks_name = "blocks.txt";
// Settings a study's runs must not share: each run writes its own results
// file, and one checkpoint cannot serve runs of different block counts.
constexpr const char* withheld_settings[] = {"BLOCKEIG_RESULTS=", "BLOCKEIG_CHECKPOINT="};
// The signals that stop a study. They are blocked while it runs and taken
// only while a run is awaited, so that whatever else is under way (a file
// being written) finishes first.
constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};

std::string reason() { return std::strerror(errno); }

bool executable_file(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> on_path(std::string_view name) {
  const char* path = std::getenv("PATH");
  std::string_view entries = path != nullptr ? path : "";
  while (true) {
    const std::size_t colon = entries.find(':');
    const std::string_view entry = entries.substr(0, colon);
    const std::string candidate = (entry.empty() ? std::string(".") : std::string(entry)) + "/" + std::string(name);
    if (executable_file(candidate)) return fs::absolute(candidate).string();
    if (colon == std::string_view::npos) return std::nullopt;
    entries.remove_prefix(colon + 1);
  }
}

Program named_program(const std::string& name, const char* found) {
  const std::optional<std::string> path =
      name.find('/') == std::string::npos ? on_path(name) : std::optional(fs::absolute(name).string());
  if (!path || !executable_file(*path))
    throw ToolError(std::string(found) + " names " + printable(name) + ", which is not an executable file" +
                    (name.find('/') == std::string::npos ? " on PATH" : ""));
  return {*path, found};
}

// The study's blocked signals (and SIGCHLD, so that a run's end can be
// awaited with them), restored when the study is over. A SIGCHLD that the
// caller ignores would reap the runs unseen; it is taken back to its
// default meanwhile.
class StudySignals {
 public:
  // A stop signal that is ignored stays ignored (a study started under
  // nohup, or in the background of a shell script).
  StudySignals() {
    sigemptyset(&set_);
    sigemptyset(&stops_);
    for (const int s : stop_signals) {
      struct sigaction current {};
      ::sigaction(s, nullptr, &current);
      if (current.sa_handler != SIG_IGN) sigaddset(&stops_, s);
    }
    set_ = stops_;
    sigaddset(&set_, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &set_, &saved_mask_);
    struct sigaction by_default {};
    by_default.sa_handler = SIG_DFL;
    sigemptyset(&by_default.sa_mask);
    ::sigaction(SIGCHLD, &by_default, &saved_child_);
  }
  ~StudySignals() {
    ::sigaction(SIGCHLD, &saved_child_, nullptr);
    ::sigprocmask(SIG_SETMASK, &saved_mask_, nullptr);
  }
  StudySignals(const StudySignals&) = delete;
  StudySignals& operator=(const StudySignals&) = delete;

  const sigset_t& saved_mask() const { return saved_mask_; }
  // The first stop signal taken, or 0.
  int stop() const { return stop_; }

  // Waits for `pid` to end and returns its wait status. A stop signal
  // meanwhile is remembered and passed on to the run, unless the terminal
  // sent it to both. The wait wakes now and then as well: in a process with
  // other threads, SIGCHLD may go to one of them.
  int wait_for(pid_t pid) {
    const timespec poll{0, 200'000'000};
    for (;;) {
      int status = 0;
      const pid_t done = ::waitpid(pid, &status, WNOHANG);
      if (done == pid) return status;
      if (done < 0 && errno != EINTR) throw ToolError("cannot wait for blockeig: " + reason());
      siginfo_t info{};
      const int signal = ::sigtimedwait(&set_, &info, &poll);
      if (signal <= 0 || signal == SIGCHLD) continue;
      if (stop_ == 0) stop_ = signal;
      if (info.si_code != SI_KERNEL) ::kill(pid, signal);
    }
  }

  // Takes a stop signal that came while no run was awaited.
  void take_pending() {
    const timespec now{0, 0};
    for (int signal; (signal = ::sigtimedwait(&stops_, nullptr, &now)) > 0;)
      if (stop_ == 0) stop_ = signal;
  }

 private:
  sigset_t stops_;  // the stop signals not ignored
  sigset_t set_;    // and SIGCHLD
  sigset_t saved_mask_;
  struct sigaction saved_child_ {};
  int stop_ = 0;
};

// A folder of its own for one run (or the import of the matrix) beside the
// figure: ".STEM-SUFFIX.scrtool-XXXXXX".
std::string scratch_pattern(const std::string& figure, const std::string& suffix) {
  const fs::path figure_path(figure);
  return (figure_path.parent_path() / ("." + figure_path.stem().string() + "-" + suffix + ".scrtool-XXXXXX"))
      .string();
}

ScratchFolder run_folder(const std::string& figure, const std::string& suffix) {
  const std::string pattern = scratch_pattern(figure, suffix);
  return ScratchFolder(pattern, "cannot make a scratch folder " + printable(pattern));
}

// The matrix appears as A.SCR in the scratch folder without being copied
// where that can be helped: a hard link, else a symbolic link, else a copy.
void place_matrix(const std::string& matrix, const fs::path& folder) {
  const fs::path target = folder / blockeig::run::matrix_file_name;
  if (::linkat(AT_FDCWD, matrix.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) return;
  std::error_code error;
  fs::create_symlink(fs::absolute(matrix), target, error);
  if (error) fs::copy_file(matrix, target, error);
  if (error) throw ToolError("cannot place " + printable(matrix) + " in " + printable(folder.string()) + ": " + error.message());
}

// Everything the child needs, made before fork: after it, in a process that
// may have threads, only calls that are safe there.
struct Launch {
  std::string program;
  std::vector<std::string> arguments;
  std::vector<std::string> environment;
  std::string folder, input;

  pid_t start(const sigset_t& child_mask) const {
    std::vector<char*> argv, envp;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const int in = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (in < 0 || null < 0) {
      const std::string why = reason();
      if (in >= 0) ::close(in);
      if (null >= 0) ::close(null);
      throw ToolError("cannot prepare blockeig's input and output: " + why);
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (::dup2(in, STDIN_FILENO) < 0 || ::dup2(null, STDOUT_FILENO) < 0 || ::chdir(folder.c_str()) != 0) ::_exit(127);
      ::sigprocmask(SIG_SETMASK, &child_mask, nullptr);
      ::execve(program.c_str(), argv.data(), envp.data());
      ::_exit(127);
    }
    const int fork_error = errno;
    ::close(in);
    ::close(null);
    if (pid < 0) throw ToolError("cannot start blockeig: " + std::string(std::strerror(fork_error)));
    return pid;
  }
};

std::vector<std::string> run_environment() {
  std::vector<std::string> out;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    bool withheld = false;
    for (const char* name : withheld_settings) withheld = withheld || entry.starts_with(name);
    if (!withheld) out.emplace_back(entry);
  }
  return out;
}

void write_text(const std::string& path, const std::string& text) {
  write_file_atomically(path, [&](const ByteSink& sink) {
    sink({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  });
}

// The document of a kept results file names the matrix file the study was
// given (absolute), not the A.SCR of a scratch folder that is gone.
std::string naming_input(const std::string& document, const std::string& given, std::string_view name) {
  namespace schema = blockeig::results_schema;
  const JsonValue d = parse_json(document, name);
  const std::optional<JsonValue> input = d.find(schema::key::input);
  const std::optional<JsonValue> path = input ? input->find(schema::input_key::path) : std::nullopt;
  if (!path || path->kind() != JsonValue::Kind::string) return document;
  std::size_t end = path->offset() + 1;
  while (end < document.size() && document[end] != '"') end += document[end] == '\\' ? 2 : 1;
  std::string named = "\"";
  blockeig::escape_json(fs::absolute(given).lexically_normal().string(), [&](std::string_view piece) { named += piece; });
  named += "\"";
  return document.substr(0, path->offset()) + named + document.substr(std::min(end + 1, document.size()));
}

// How a run ended, for a message: "exit status 2", "signal 9".
std::string ending_text(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
  return "wait status " + std::to_string(status);
}

// One line when a run is over: how it ended and how far E(1) is from
// lambda_1.
std::string run_summary(const RunResults& r, double wall_seconds) {
  std::string s = std::to_string(r.sweeps.size()) + (r.sweeps.size() == 1 ? " sweep; " : " sweeps; ");
  s += describe_end(r, table_notation);
  const blockeig::E1Accuracy a = e1_accuracy(r);
  if (std::isfinite(a.relative)) s += " (" + plot::brief(a.relative) + " ||A||_2)";
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, ", %.2f s", wall_seconds);
  return s + seconds;
}

struct Outcome {
  std::vector<NamedRun> runs;    // the runs with a finished sweep, in order
  std::vector<std::string> kept;  // every results file written
  bool failed = false;
};

// One run: its results file is kept beside the figure whatever its end;
// returns false when the run did not end normally.
bool run_one(const StudyPlan& plan, const StudyRun& run, std::size_t index, StudySignals& signals, Outcome& outcome,
             std::ostream& err) {
  const std::string prefix = "scrtool study: " + run.label;
  err << prefix << " (run " << index + 1 << " of " << plan.runs.runs.size() << ") ...\n";
  const ScratchFolder folder = run_folder(plan.figure, run.suffix);
  place_matrix(plan.matrix->scr(), folder.path());
  // The block count, as a user types it at the prompt.
  const std::string input = (folder.path() / blocks_name).string();
  if (!(std::ofstream(input) << run.nblocks << '\n'))
    throw ToolError("cannot write " + printable(input) + ": " + reason());
  std::vector<std::string> arguments = {"--results", std::string(results_name)};
  if (!run.tol.empty()) arguments.insert(arguments.end(), {std::string(blockeig::runtime::tol_option), run.tol});
  if (!run.max_sweeps.empty())
    arguments.insert(arguments.end(), {std::string(blockeig::runtime::max_sweeps_option), run.max_sweeps});
  const Launch launch{plan.program.path, arguments, run_environment(), folder.path().string(), input};
  const auto start = std::chrono::steady_clock::now();
  const int status = signals.wait_for(launch.start(signals.saved_mask()));
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const bool normal = WIFEXITED(status) && WEXITSTATUS(status) == 0;

  const fs::path results = folder.path() / results_name;
  if (!fs::exists(results)) {
    err << prefix << ": blockeig ended with " << ending_text(status) << " and wrote no results file\n";
    return false;
  }
  const std::string kept = study_results_name(plan.figure, run.suffix);
  const std::string text = naming_input(read_file(results.string()), plan.matrix->given(), kept);
  write_text(kept, text);
  outcome.kept.push_back(kept);
  RunResults r = read_results(text, kept);
  if (!normal)
    err << prefix << ": blockeig ended with " << ending_text(status) << "; " << printable(kept) << " keeps its run ("
        << shown_state(r) << ", " << r.sweeps.size() << (r.sweeps.size() == 1 ? " sweep)\n" : " sweeps)\n");
  if (!r.sweeps.empty()) {
    if (normal) err << prefix << ": " << run_summary(r, wall) << "\n";
    outcome.runs.push_back({kept, std::move(r)});
  }
  return normal;
}

std::string file_name(const std::string& path) { return fs::path(path).filename().string(); }

}  // namespace

Program find_blockeig(const std::optional<std::string>& option) {
  if (option) return named_program(*option, "--program");
  if (const char* variable = std::getenv("BLOCKEIG"); variable != nullptr && *variable != '\0')
    return named_program(variable, "BLOCKEIG");
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::string beside = (self.parent_path() / program_name).string();
    if (executable_file(beside)) return {beside, "beside scrtool"};
  }
  if (const std::optional<std::string> found = on_path(program_name)) return {*found, "PATH"};
  throw ToolError("cannot find blockeig beside scrtool" + (error ? std::string() : " (in " + printable(self.parent_path().string()) + ")") +
                  " or on PATH; name it with --program FILE or the environment variable BLOCKEIG");
}

std::optional<std::int32_t> matrix_order(const std::string& matrix) {
  const FileSource file(matrix);
  const char* convert = std::getenv("BLOCKEIG_CONVERT");
  const std::string_view setting = convert != nullptr ? convert : "";
  const ByteOrder order = setting == "big_endian" || setting == "swap" ? ByteOrder::big : ByteOrder::little;
  const RecordFrame frame = frame_record(file, 0, order);
  if (frame.framing != Framing::complete || frame.length < 4) return std::nullopt;
  std::uint8_t bytes[4];
  if (file.read(frame.data_offset(), bytes) != sizeof bytes) return std::nullopt;
  return decode_int32(bytes, order);
}

std::string study_results_name(const std::string& figure, const std::string& suffix) {
  const fs::path path(figure);
  return (path.parent_path() / (path.stem().string() + "-" + suffix + ".json")).string();
}

StudyMatrix::StudyMatrix(const std::string& given, const std::string& figure, std::ostream& err) : given_(given) {
  if (looks_like_scr(given)) {
    scr_ = given;
    order_ = matrix_order(given);
    return;
  }
  Matrix m = read_any_matrix(given, std::nullopt, "study", err);
  warn_if_not_symmetric(given, m, "study", err);
  const std::string pattern = scratch_pattern(figure, "matrix");
  folder_.emplace(pattern, "cannot make a scratch folder " + printable(pattern));
  scr_ = (folder_->path() / blockeig::run::matrix_file_name).string();
  write_file_atomically(scr_, [&](const ByteSink& sink) { emit_scr(m, ByteOrder::little, sink); });
  order_ = m.n;
}

int run_study(const StudyPlan& plan, std::ostream& out, std::ostream& err) {
  err << "scrtool study: " << printable(plan.matrix->given())
      << (plan.matrix->imported() ? " (imported into a scratch A.SCR)" : "") << " with "
      << printable(plan.program.path) << " (found " << plan.program.found << ")\n";
  Outcome outcome;
  int stop = 0;
  {
    StudySignals signals;
    for (std::size_t k = 0; k < plan.runs.runs.size() && !outcome.failed; ++k) {
      outcome.failed = !run_one(plan, plan.runs.runs[k], k, signals, outcome, err);
      signals.take_pending();
      if (signals.stop() != 0 && !outcome.failed) outcome.failed = true;
    }
    stop = signals.stop();
    if (stop != 0) err << "scrtool study: stopped by " << strsignal(stop) << "; the runs finished are kept\n";
    else if (outcome.failed) err << "scrtool study: stopped after a failed run; the runs before it are kept\n";
  }
  if (!outcome.runs.empty()) {
    const std::string name = file_name(plan.matrix->given());
    const std::string svg = render_runs_plot(outcome.runs, "blockeig study: " + name + ", by " + plan.runs.varied);
    write_text(plan.figure, svg);
    out << render_runs_table(outcome.runs, name);
    out << "wrote " << printable(plan.figure) << " and " << outcome.kept.size()
        << (outcome.kept.size() == 1 ? " results file beside it\n" : " results files beside it\n");
  } else {
    err << "scrtool study: no run finished a sweep; no figure drawn\n";
  }
  if (stop != 0) {
    out.flush();
    err.flush();
    std::signal(stop, SIG_DFL);
    std::raise(stop);
  }
  return outcome.failed ? 2 : 0;
}

}  // namespace scrtool
