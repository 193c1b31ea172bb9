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
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace blockeig::runtime {

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
  // Prepares the names (this allocates): `path` itself, the temporary
  // ".NAME.PID.tmp" beside it, and its directory.
  explicit FileReplacement(std::string path);

  // Writes `pieces` one after the other as the new content of the file.
  // Returns 0, or the errno of the first failure; the old file is then left
  // as it was and the temporary file is removed. Safe in a signal handler.
  int replace(std::span<const std::string_view> pieces) const noexcept;
  int replace(std::span<const Piece> pieces) const noexcept;

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
  template <typename Pieces>
  int replace_with(const Pieces& pieces) const noexcept;

  std::string path_;
  std::string base_;
  std::string temporary_;
  std::string directory_;
};

}  // namespace blockeig::runtime
