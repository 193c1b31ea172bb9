#pragma once
// Replacing a file so that it is never seen half-written, the one way the
// program and scrtool do it: the new content goes to a temporary file beside
// the file, which is flushed to disk, given the file's owner and mode,
// renamed over the file, and the directory is flushed in turn. A reader, a
// kill or a power cut at any instant finds the old file whole or the new one
// whole.
//
//   - A name that is a symbolic link stands for the file it leads to, which
//     is replaced (a dangling link: the file is created where it points);
//     the link stays a link.
//   - Only a regular file is ever renamed over: a directory, a device, a
//     FIFO or a socket under the name is refused.
//   - The temporary file is ".NAME.PID.tmp" in the file's directory, its
//     NAME shortened (never inside a UTF-8 character, and marked with a hash
//     of the whole name) where the whole would not fit, so that it fits
//     wherever the file's own name fits.
//   - A replaced file keeps its owner, group and mode; one whose owner cannot
//     be kept (only root may give a file away) is left as it was. A new file
//     gets the mode of any new file (0666 less the umask).
//
// It lives in the run-time because a report and a stop on a signal need it:
// replace() allocates nothing and makes only calls that are safe in a signal
// handler, so the last document of a run can still be written while the
// run ends. remove_live_temporaries() removes what a replacement in progress
// has made.
#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace blockeig::runtime {

// Failures of a replacement that are no errno: the file has become something
// other than a regular file since the name was prepared; the file's owner
// could not be given to its replacement.
inline constexpr int replacement_not_regular = -1;
inline constexpr int replacement_owner_not_kept = -2;

// A piece of a file's new content: bytes in memory, or `length` bytes of
// the file open on `fd` from `offset`, copied from file to file without
// passing through the caller's memory (the run's records keep their long
// texts in memory files, outside the address space the computation needs).
struct Piece {
  Piece() = default;
  Piece(std::string_view bytes) : bytes(bytes) {}
  Piece(const char* bytes) : bytes(bytes) {}
  Piece(int fd, std::uint64_t offset, std::uint64_t length) : fd(fd), offset(offset), length(length) {}
  std::string_view bytes;
  int fd = -1;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

class FileReplacement {
 public:
  // Prepares the names (this allocates): follows the links of `name`,
  // notes what is there now, and makes the temporary name.
  explicit FileReplacement(std::string name);
  // Removes a temporary file that begin() made and neither commit() nor
  // discard() disposed of.
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Why the name cannot be replaced, as the end of a sentence that names the
  // file ("cannot write NAME: ..."): empty when it can be; "it is a
  // directory" (a name that ends in "/", ".", ".." is one too); "it is a FIFO,
  // not a regular file" and the like for any other file that is not a
  // regular one; the system's text for a link that cannot be followed.
  // Judged when the object is made.
  const std::string& refusal() const { return refusal_; }
  // The errno that stands for the refusal, for callers that report one: 0
  // when there is none; EISDIR for a directory; EINVAL for any other file
  // that is not a regular one (no errno means that); else the system's.
  int refusal_error() const { return refusal_error_; }
  // The type bits of the file that was there when the object was made, 0 if
  // there was none.
  mode_t existing_type() const { return existing_type_; }

  // Writes `pieces` one after the other as the new content of the file.
  // Returns 0, or the errno of the first failure, or one of the
  // replacement_ codes above; the old file is then left as it was and the
  // temporary file is removed. Allocates nothing; safe in a signal handler.
  int replace(std::span<const std::string_view> pieces) const noexcept;
  int replace(std::span<const Piece> pieces) const noexcept;

  // Creates the temporary file and removes it again, leaving the file itself
  // alone: 0 when the directory takes a replacement now and the file's
  // owner can be kept, or the failure as replace() gives it.
  int probe() const noexcept;

  // replace() in steps, for a writer that makes several files whole before
  // it renames any. begin() creates the temporary file and sets `fd`;
  // finish(fd) gives it the file's owner and mode, flushes and closes it
  // (the descriptor is closed whatever happens); commit() renames it over the
  // file and flushes the directory; discard() removes it. Each returns 0 or
  // the failure; after a failure of finish() or commit(), discard().
  int begin(int& fd) const noexcept;
  int finish(int fd) const noexcept;
  int commit() const noexcept;
  void discard() const noexcept;

  // The text of a failure that replace() or a step returned, for reports:
  // the system's text, or what the replacement_ codes stand for.
  std::string error_text(int error) const;

  // Removes the temporary files ".NAME.PID.tmp" beside the file whose
  // process is no longer running: what a run killed in the middle of a
  // replacement left behind.
  void remove_stale_temporaries() const;

  // The name as given, for messages.
  const std::string& path() const { return name_; }
  // The file that is replaced: the name with its links followed.
  const std::string& target() const { return target_; }

 private:
  template <typename Pieces>
  int replace_with(const Pieces& pieces) const noexcept;
  void refuse(std::string why, int error);

  std::string name_;
  std::string target_;
  std::string directory_;
  std::string stem_;  // NAME in the temporary name, shortened where needed
  std::string temporary_;
  std::string refusal_;
  int refusal_error_ = 0;
  mode_t existing_type_ = 0;
};

// Removes every temporary file that a replacement in progress has made, in
// any FileReplacement of the process: the clean-up of a stop on a signal.
// Safe in a signal handler.
void remove_live_temporaries() noexcept;

}  // namespace blockeig::runtime
