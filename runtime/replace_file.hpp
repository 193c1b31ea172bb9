#pragma once
// Replacing a file so that it is never seen half-written: the new content
// goes to a temporary file in the same directory, which is flushed to disk,
// renamed over the old file, and the directory is flushed in turn. A reader,
// a kill or a power cut at any instant finds the old file whole or the new
// one whole; at worst a killed run leaves its temporary file behind.
//
// It lives in the run-time because a report may need it: replace() allocates
// nothing and uses only calls that are safe in a signal handler, so the last
// document of a failing run can still be written while the report ends it.
#include <span>
#include <string>
#include <string_view>

namespace blockeig::runtime {

class FileReplacement {
 public:
  // Prepares the names (this allocates): `path` itself, the temporary
  // ".NAME.PID.tmp" beside it, and its directory.
  explicit FileReplacement(std::string path);

  // Writes `pieces` one after the other as the new content of the file.
  // Returns 0, or the errno of the first failure; the old file is then left
  // as it was and the temporary file is removed. Safe in a signal handler.
  int replace(std::span<const std::string_view> pieces) const noexcept;

  // Creates the temporary file and removes it again, leaving the file itself
  // alone: 0 when the directory takes a replacement now, or the errno of the
  // refusal.
  int probe() const noexcept;
  // Removes the temporary files ".NAME.PID.tmp" beside the file whose
  // process is no longer running: what a run killed in the middle of a
  // replacement left behind.
  void remove_stale_temporaries() const;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string base_;
  std::string temporary_;
  std::string directory_;
};

}  // namespace blockeig::runtime
