#pragma once
// scrtool's files: whole-file input, random access to A.SCR, scratch folders,
// and output that appears under its name only once every file of a command
// is complete.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "tools/record_codec.hpp"

namespace scrtool {

// The whole content of `path`. Throws ToolError naming the file and the
// system's reason.
std::string read_file(const std::string& path);

// A regular file opened for reading with pread; throws ToolError if it cannot
// be opened or is not a regular file. A FIFO is refused at once, even when
// no process has it open for writing.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(const std::string& path);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  std::int64_t size() const override { return size_; }
  std::size_t read(std::int64_t offset, std::span<std::uint8_t> out) const override;
  std::string file_path() const override { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::int64_t size_ = 0;
};

// A folder of its own for a child's files, removed with everything in it when
// the object goes. `pattern` names it with six X's at the end, which the
// system replaces (mkdtemp); when it cannot be made, ToolError says
// `failure` and the system's reason.
class ScratchFolder {
 public:
  ScratchFolder(std::string pattern, std::string_view failure);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  // Absolute.
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// One file a command writes: its name and what goes into it.
struct OutputFile {
  std::string path;
  std::function<void(const ByteSink&)> write;
};

// Writes every file of `files`, so that a failure changes none of them:
//   - A name that is a symbolic link stands for the file it leads to (a link
//     to nowhere: the file is created where it points).
//   - A regular file is written under a temporary name in its directory, no
//     longer than the longest name the directory takes, and renamed over the
//     file only when every file is ready and on the disk. A file that
//     existed keeps its mode, owner and group; one whose owner scrtool may
//     not keep is refused and left as it was. Other hard links to it keep
//     the old content, as with any replacement by rename.
//   - An existing file that is not a regular one (a terminal, a device, a
//     pipe: /dev/stdout, /dev/null) is written to directly, after every
//     temporary file is ready and before any is renamed. A FIFO that no
//     process reads is refused rather than waited for; a directory or a
//     socket is refused.
//   - A new file gets the mode a newly created file gets (0666 less the
//     umask).
// Regular files are replaced as blockeig replaces its own
// (runtime/replace_file.hpp). On any failure (an exception from a `write`, a
// refused write) the temporary files are removed and the failure propagates
// as ToolError; a signal that ends the process (SIGHUP, SIGINT, SIGTERM,
// SIGPIPE) removes them too.
void write_files(std::span<const OutputFile> files);

// Refuses, before any work, an output that is one of the inputs: the same
// file (device and inode) under any name, "./m.scr", a symbolic link or a
// hard link to it, which writing the output would replace. Outputs that do
// not exist yet, and "-" (standard output), are not inputs. Throws ToolError
// "cannot write OUTPUT: it is the input file INPUT".
void refuse_outputs_over_inputs(std::span<const std::string> outputs, std::span<const std::string> inputs);

// write_files for a single file.
void write_file_atomically(const std::string& path, const std::function<void(const ByteSink&)>& write);

}  // namespace scrtool
