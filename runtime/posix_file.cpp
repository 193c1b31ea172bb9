#include "runtime/posix_file.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "runtime/ready_wait.hpp"

namespace blockeig::runtime {

namespace {

// Links followed before giving up, as the kernel does (ELOOP).
constexpr int max_link_hops = 40;

}  // namespace

std::string_view directory_prefix(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

int write_all(int fd, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR || wait_if_not_ready(fd, POLLOUT)) continue;
      return errno;
    }
    if (n == 0) return ENOSPC;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

std::int64_t read_at(int fd, std::uint64_t offset, void* into, std::size_t count) noexcept {
  char* p = static_cast<char*>(into);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd, p + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t bytes_left(int fd) noexcept {
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  const off_t here = ::lseek(fd, 0, SEEK_CUR);
  return here < 0 ? -1 : info.st_size - here;
}

int write_range(int fd, int from, std::uint64_t offset, std::uint64_t length) noexcept {
  off_t at = static_cast<off_t>(offset);
  std::uint64_t left = length;
  while (left > 0) {
    const ssize_t n = ::sendfile(fd, from, &at, static_cast<std::size_t>(std::min<std::uint64_t>(left, 1u << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EINVAL || errno == ENOSYS)) break;
    if (n < 0) return errno;
    if (n == 0) return EIO;  // the range ends before its length
    left -= static_cast<std::uint64_t>(n);
  }
  char buffer[4096];
  while (left > 0) {
    const std::int64_t n = read_at(from, static_cast<std::uint64_t>(at), buffer,
                                   static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof buffer)));
    if (n <= 0) return n < 0 ? errno : EIO;
    if (const int error = write_all(fd, {buffer, static_cast<std::size_t>(n)})) return error;
    at += n;
    left -= static_cast<std::uint64_t>(n);
  }
  return 0;
}

int sync_file(int fd) noexcept {
  int status;
  do status = ::fsync(fd);
  while (status != 0 && errno == EINTR);
  return status == 0 ? 0 : errno;
}

int sync_directory(const char* directory) noexcept {
  const int fd = ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int error = sync_file(fd);
  ::close(fd);
  return error == EINVAL ? 0 : error;
}

NameParts split_name(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {".", std::string(path)};
  return {slash == 0 ? "/" : std::string(path.substr(0, slash)), std::string(path.substr(slash + 1))};
}

std::string follow_links(const std::string& path, int& error) {
  error = 0;
  std::string reached = path;
  for (int hop = 0;; ++hop) {
    struct stat info {};
    if (::lstat(reached.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return reached;
    if (hop == max_link_hops) {
      error = ELOOP;
      return reached;
    }
    char link[PATH_MAX];
    const ssize_t length = ::readlink(reached.c_str(), link, sizeof link);
    if (length < 0 || static_cast<std::size_t>(length) == sizeof link) {
      error = length < 0 ? errno : ENAMETOOLONG;
      return reached;
    }
    const std::string_view target(link, static_cast<std::size_t>(length));
    reached = target.starts_with('/') ? std::string(target) : std::string(directory_prefix(reached)) + std::string(target);
  }
}

bool same_entry(const std::string& a, const std::string& b) {
  int ignored = 0;
  const NameParts one = split_name(follow_links(a, ignored));
  const NameParts other = split_name(follow_links(b, ignored));
  struct stat here {}, there {};
  return one.name == other.name && ::stat(one.directory.c_str(), &here) == 0 &&
         ::stat(other.directory.c_str(), &there) == 0 && here.st_dev == there.st_dev && here.st_ino == there.st_ino;
}

std::string_view file_type_name(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "a regular file";
}

}  // namespace blockeig::runtime
