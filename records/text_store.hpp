#pragma once
// Text that the run's records keep outside the process's address space: an
// anonymous memory file that grows by appends and is copied from file to
// file when a document is written (runtime::Piece). A results document or
// the console lines of a run, however long the run, then take none of the
// memory the computation needs: under an address-space limit, a run that
// asked for its records gets every array that a run without them gets.
//
// Appends go to a draft that commit() makes part of the text. The text as
// of the last commit can be read from a signal handler. A failed append
// (memory refused to the file, a file-size limit) is kept: the next commit
// drops the draft and returns the error, and so does every commit after it
// until clear(), since a text with a part missing would be a wrong one.
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string_view>

#include "runtime/replace_file.hpp"

namespace blockeig {

class TextStore {
 public:
  TextStore() = default;
  TextStore(const TextStore&) = delete;
  TextStore& operator=(const TextStore&) = delete;
  ~TextStore();

  // Creates the memory file: 0, or the errno of the refusal.
  int open() noexcept;

  void append(std::string_view bytes) noexcept;
  // Appends `length` bytes of `other`'s text from `offset`.
  void append_from(const TextStore& other, std::uint64_t offset, std::uint64_t length) noexcept;
  // Makes the draft part of the text: 0, or the errno of the failure that
  // cost a part of it (the draft is then dropped).
  int commit() noexcept;
  // Drops the draft.
  void discard() noexcept;
  // Empties the text and forgets a failure. The file keeps its length, so
  // that a copy begun meanwhile never reaches beyond it.
  void clear() noexcept;

  // The bytes of the text as of the last commit. Safe in a signal handler.
  std::uint64_t size() const noexcept { return committed_.load(); }
  // Reads `count` bytes of the text from `offset`: 0 or an errno.
  int read(std::uint64_t offset, void* into, std::size_t count) const noexcept;

  // The text as of the last commit, as a piece of a file's new content.
  // Safe in a signal handler.
  runtime::Piece text() const noexcept { return {fd_, 0, size()}; }
  runtime::Piece text(std::uint64_t offset, std::uint64_t length) const noexcept { return {fd_, offset, length}; }

 private:
  int flush() noexcept;

  int fd_ = -1;
  std::atomic<std::uint64_t> committed_{0};
  std::uint64_t end_ = 0;  // the text and the flushed draft
  int error_ = 0;
  char buffer_[4096] = {};
  std::size_t buffered_ = 0;
};

}  // namespace blockeig
