// write_files: every output of a command appears complete, or none changes.
// Regular files are replaced the program's way (runtime/replace_file.hpp).
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "runtime/posix_file.hpp"
#include "runtime/replace_file.hpp"
#include "runtime/stop_signals.hpp"
#include "tools/file_io.hpp"
#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

using blockeig::runtime::FileReplacement;

std::string reason() { return std::strerror(errno); }

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
  throw ToolError("cannot write " + printable(path) + ": " + why);
}

// While a command writes, a signal that ends scrtool (SIGHUP, SIGINT,
// SIGTERM, SIGPIPE) removes the temporary files first, and SIGXFSZ is
// ignored, so that a file-size limit shows as a refused write (EFBIG) that
// the writer reports, not as a core dump.
class WritingSignals {
 public:
  WritingSignals() {
    static constexpr int ending[] = {SIGHUP, SIGINT, SIGTERM, SIGPIPE};
    blockeig::runtime::catch_stop_signals(ending);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, &previous_xfsz_);
  }
  ~WritingSignals() {
    ::sigaction(SIGXFSZ, &previous_xfsz_, nullptr);
    blockeig::runtime::release_stop_signals();
  }
  WritingSignals(const WritingSignals&) = delete;
  WritingSignals& operator=(const WritingSignals&) = delete;

 private:
  struct sigaction previous_xfsz_ {};
};

// Where one output goes: a replacement, or for an existing file that is not
// a regular one (a terminal, a device, a pipe: /dev/stdout, /dev/null) the
// file itself, written directly.
struct Target {
  const OutputFile* file = nullptr;
  std::unique_ptr<FileReplacement> replacement;
  bool direct = false;
};

Target resolve(const OutputFile& file) {
  Target t{&file, std::make_unique<FileReplacement>(file.path)};
  const mode_t type = t.replacement->existing_type();
  if (type == S_IFSOCK) refuse(file.path, "it is a socket");
  t.direct = type != 0 && type != S_IFREG && type != S_IFDIR;
  if (!t.direct && !t.replacement->refusal().empty()) refuse(file.path, t.replacement->refusal());
  return t;
}

// Two names for one file would leave it holding whichever came last.
void refuse_one_file_twice(const std::vector<Target>& targets) {
  for (std::size_t i = 0; i < targets.size(); ++i)
    for (std::size_t j = i + 1; j < targets.size(); ++j) {
      const Target& a = targets[i];
      const Target& b = targets[j];
      if (!a.direct && !b.direct && blockeig::runtime::same_entry(a.file->path, b.file->path))
        throw ToolError(printable(a.file->path) + " and " + printable(b.file->path) + " are the same file");
    }
}

void write_all(int fd, std::span<const std::uint8_t> bytes, const std::string& path) {
  const int error =
      blockeig::runtime::write_all(fd, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  if (error != 0) refuse(path, std::strerror(error));
}

// The complete content of a regular target under its temporary name, on
// the disk, with the target's owner, group and mode.
void write_temporary(const Target& t) {
  const FileReplacement& r = *t.replacement;
  int fd = -1;
  if (const int error = r.begin(fd); error != 0)
    throw ToolError("cannot create a file in " + printable(blockeig::runtime::split_name(r.target()).directory) +
                    " for " + printable(t.file->path) + ": " + std::strerror(error));
  try {
    t.file->write([&](std::span<const std::uint8_t> piece) { write_all(fd, piece, t.file->path); });
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (const int error = r.finish(fd); error != 0) refuse(t.file->path, r.error_text(error));
}

// A terminal, device or pipe takes the bytes as they come. Opening without
// waiting makes a FIFO that no process reads a refusal, not a hang.
void write_directly(const Target& t) {
  const int fd = ::open(t.file->path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENXIO && t.replacement->existing_type() == S_IFIFO)
      refuse(t.file->path, "it is a FIFO that no process reads");
    refuse(t.file->path, reason());
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  try {
    t.file->write([&](std::span<const std::uint8_t> piece) { write_all(fd, piece, t.file->path); });
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) refuse(t.file->path, reason());
}

// The file a name leads to, links followed: its device and inode, or
// nothing when there is none.
std::optional<std::pair<dev_t, ino_t>> file_identity(const std::string& path) {
  struct stat info {};
  if (path == "-" || ::stat(path.c_str(), &info) != 0) return std::nullopt;
  return std::pair(info.st_dev, info.st_ino);
}

}  // namespace

void refuse_outputs_over_inputs(std::span<const std::string> outputs, std::span<const std::string> inputs) {
  for (const std::string& output : outputs) {
    const auto written = file_identity(output);
    if (!written) continue;
    for (const std::string& input : inputs)
      if (file_identity(input) == written)
        throw ToolError("cannot write " + printable(output) + ": it is the input file " + printable(input));
  }
}

void write_files(std::span<const OutputFile> files) {
  const WritingSignals signals;
  std::vector<Target> targets;
  for (const OutputFile& file : files) targets.push_back(resolve(file));
  refuse_one_file_twice(targets);
  // A failure from here on removes every temporary file with its
  // FileReplacement.
  for (const Target& t : targets)
    if (!t.direct) write_temporary(t);
  for (const Target& t : targets)
    if (t.direct) write_directly(t);
  for (const Target& t : targets)
    if (!t.direct)
      if (const int error = t.replacement->commit(); error != 0)
        throw ToolError("cannot create " + printable(t.file->path) + ": " + t.replacement->error_text(error));
}

void write_file_atomically(const std::string& path, const std::function<void(const ByteSink&)>& write) {
  const OutputFile file{path, write};
  write_files(std::span(&file, 1));
}

}  // namespace scrtool
