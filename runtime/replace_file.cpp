#include "runtime/replace_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

namespace blockeig::runtime {

namespace {

int write_all(int fd, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    // A regular file that takes nothing has no room (a full disk may say
    // so with a count of 0 instead of ENOSPC).
    if (n == 0) return ENOSPC;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

int fsync_retrying(int fd) noexcept {
  int status;
  do status = ::fsync(fd);
  while (status != 0 && errno == EINTR);
  return status == 0 ? 0 : errno;
}

int write_piece(int fd, std::string_view bytes) noexcept { return write_all(fd, bytes); }

// A range of another file, by the kernel where it can (sendfile), else
// through a small buffer.
int write_piece(int fd, const Piece& piece) noexcept {
  if (piece.fd < 0) return write_all(fd, piece.bytes);
  off_t offset = static_cast<off_t>(piece.offset);
  std::uint64_t left = piece.length;
  while (left > 0) {
    const ssize_t n = ::sendfile(fd, piece.fd, &offset, static_cast<std::size_t>(std::min<std::uint64_t>(left, 1u << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EINVAL || errno == ENOSYS)) break;
    if (n < 0) return errno;
    if (n == 0) return EIO;  // the range ends before its length
    left -= static_cast<std::uint64_t>(n);
  }
  char buffer[4096];
  while (left > 0) {
    const ssize_t n = ::pread(piece.fd, buffer, static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof buffer)), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    if (const int error = write_all(fd, {buffer, static_cast<std::size_t>(n)})) return error;
    offset += n;
    left -= static_cast<std::uint64_t>(n);
  }
  return 0;
}

// The directory entry of the renamed file reaches the disk too. A file
// system that cannot flush a directory (EINVAL) has nothing to flush.
int flush_directory(const char* directory) noexcept {
  const int fd = ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int error = fsync_retrying(fd);
  ::close(fd);
  return error == EINVAL ? 0 : error;
}

}  // namespace

FileReplacement::FileReplacement(std::string path) : path_(std::move(path)) {
  const std::size_t slash = path_.rfind('/');
  base_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  directory_ = slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
  temporary_ = directory_ + "/." + base_ + "." + std::to_string(::getpid()) + ".tmp";
}

void FileReplacement::remove_stale_temporaries() const {
  DIR* directory = ::opendir(directory_.c_str());
  if (directory == nullptr) return;
  const std::string prefix = "." + base_ + ".";
  const std::string_view suffix = ".tmp";
  while (const dirent* entry = ::readdir(directory)) {
    const std::string_view name = entry->d_name;
    if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix)) continue;
    const std::string_view digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    if (error != std::errc() || end != digits.data() + digits.size() || pid <= 0 || pid == ::getpid()) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // running, or not ours to tell
    ::unlinkat(::dirfd(directory), entry->d_name, 0);
  }
  ::closedir(directory);
}

int FileReplacement::probe() const noexcept {
  int fd;
  do fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  ::close(fd);
  ::unlink(temporary_.c_str());
  return 0;
}

int FileReplacement::replace(std::span<const std::string_view> pieces) const noexcept {
  return replace_with(pieces);
}

int FileReplacement::replace(std::span<const Piece> pieces) const noexcept { return replace_with(pieces); }

template <typename Pieces>
int FileReplacement::replace_with(const Pieces& pieces) const noexcept {
  const int saved_errno = errno;
  // O_NOFOLLOW: a link planted under the temporary name is not followed.
  int fd;
  do fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int error = errno;
    errno = saved_errno;
    return error;
  }
  int error = 0;
  for (const auto& piece : pieces)
    if (error == 0) error = write_piece(fd, piece);
  if (error == 0) error = fsync_retrying(fd);
  if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
  if (error == 0 && ::rename(temporary_.c_str(), path_.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary_.c_str());
  } else {
    error = flush_directory(directory_.c_str());
  }
  errno = saved_errno;
  return error;
}

}  // namespace blockeig::runtime
