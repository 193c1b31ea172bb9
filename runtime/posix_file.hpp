#pragma once
// The system calls on files that the program and scrtool share, each written
// once: moving bytes through a descriptor, flushing a file and its directory,
// splitting a name into its directory and its last component, following
// symbolic links, and telling whether two names lead to one directory entry.
//
// The descriptor calls allocate nothing and are safe in a signal handler.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace blockeig::runtime {

// Writes all of `bytes` to `fd`: 0, or the errno of the refusal. An
// interrupted write is made again, as is one that a non-blocking descriptor
// (a shared terminal, a harness's socket) refuses with EAGAIN, once it is
// ready. A write that takes nothing is ENOSPC: the file has no room. Safe in
// a signal handler.
int write_all(int fd, std::string_view bytes) noexcept;

// Reads up to `count` bytes at `offset` into `into`, fewer only where the
// file ends: the number read, or -1 with errno set. Interrupted reads are
// made again. Safe in a signal handler.
std::int64_t read_at(int fd, std::uint64_t offset, void* into, std::size_t count) noexcept;

// The bytes a regular file holds from the descriptor's current offset on;
// -1 for a stream whose size is not known (a FIFO, a device, a socket) or a
// descriptor that cannot be asked. Safe in a signal handler.
std::int64_t bytes_left(int fd) noexcept;

// Writes `length` bytes of the file open on `from`, starting at `offset`, to
// `fd`: by the kernel where it can (sendfile), else through a small buffer,
// so that the bytes never pass through the caller's memory. 0, or the errno
// of the failure (EIO when `from` ends before the range does). Safe in a
// signal handler.
int write_range(int fd, int from, std::uint64_t offset, std::uint64_t length) noexcept;

// fsync(2), made again when interrupted: 0 or errno.
int sync_file(int fd) noexcept;
// Flushes `directory` itself, so that a name just renamed in it reaches the
// disk: 0 or errno. A file system that cannot flush a directory (EINVAL)
// has nothing to flush.
int sync_directory(const char* directory) noexcept;

// A name cut at its last slash. "d/x" is {"d", "x"}, "x" is {".", "x"}, "/x"
// is {"/", "x"}, and "d/" is {"d", ""}: a name ending in a slash has no last
// component.
struct NameParts {
  std::string directory;
  std::string name;
};
NameParts split_name(std::string_view path);
// Everything of `path` up to and including its last slash ("" for a bare
// name): what a name beside it, or a relative link found at it, starts from.
std::string_view directory_prefix(std::string_view path);

// The name `path` leads to once its symbolic links are followed (as the
// kernel does: up to 40 links), each relative link taken from the directory
// that holds it; the last link of a dangling chain leads to where its file
// would be created. Sets `error` to the errno of a link that cannot be
// followed (ELOOP, or readlink's) and returns the name reached so far;
// `error` is 0 otherwise. Only the last component is followed: directories
// on the way are the kernel's business.
std::string follow_links(const std::string& path, int& error);

// Whether `a` and `b`, links followed, name the same entry of the same
// directory: replacing the one would replace the other. Hard links to one
// file are different entries.
bool same_entry(const std::string& a, const std::string& b);

// A file type in words, for reports: "a directory", "a FIFO", "a character
// device", "a block device", "a socket", "a symbolic link", "a regular file".
std::string_view file_type_name(mode_t mode);

}  // namespace blockeig::runtime
