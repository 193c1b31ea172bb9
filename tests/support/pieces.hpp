#pragma once
// The bytes of content pieces (runtime::Piece) that may lie in files, and
// of a record's text store.
#include <unistd.h>

#include <string>

#include "records/text_store.hpp"
#include "runtime/replace_file.hpp"

namespace blockeig::testing {

inline std::string bytes_of(const runtime::Piece& piece) {
  if (piece.fd < 0) return std::string(piece.bytes);
  std::string bytes(piece.length, '\0');
  if (::pread(piece.fd, bytes.data(), bytes.size(), static_cast<off_t>(piece.offset)) !=
      static_cast<ssize_t>(bytes.size()))
    bytes = "(unreadable)";
  return bytes;
}

inline std::string bytes_of(const TextStore& store) { return bytes_of(store.text()); }

}  // namespace blockeig::testing
