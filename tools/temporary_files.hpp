#pragma once
// Temporary files that never outlive scrtool: removed when their owner goes
// without renaming them, and when SIGHUP, SIGINT, SIGTERM or SIGPIPE ends
// the process first. While any exists, SIGXFSZ is ignored, so that a
// file-size limit shows as a refused write (EFBIG) that the writer reports,
// not as a core dump.
#include <string>

namespace scrtool {

class TemporaryFile {
 public:
  // Creates a new file, mode 0600, from `name_template`, whose last six
  // characters are "XXXXXX" (mkstemp). created() tells whether it worked;
  // errno holds the reason when it did not.
  explicit TemporaryFile(std::string name_template);
  // Closes the file and removes it unless it was renamed.
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool created() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

  // Closes the descriptor; false (errno set) when the system reports a
  // failure, e.g. a delayed write error.
  bool close();
  // Renames the file to `target`; false (errno set) when that fails, and
  // the file is then still removed on destruction.
  bool rename_to(const std::string& target);

 private:
  std::string path_;
  int fd_ = -1;
  int slot_ = -1;
};

}  // namespace scrtool
