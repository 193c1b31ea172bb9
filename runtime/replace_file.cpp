#include "runtime/replace_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>

#include "runtime/posix_file.hpp"

namespace blockeig::runtime {

namespace {

// The temporary files that replacements in progress have made, for the
// clean-up of a stop on a signal. Slots are taken and given back with
// atomic exchanges, so a signal handler never sees one half written; no
// process replaces more than a few files at once.
constexpr int live_slots = 8;
std::atomic<const char*> live[live_slots];

void enlist(const char* temporary) noexcept {
  for (std::atomic<const char*>& slot : live) {
    const char* empty = nullptr;
    if (slot.compare_exchange_strong(empty, temporary)) return;
  }
}

void strike(const char* temporary) noexcept {
  for (std::atomic<const char*>& slot : live) {
    const char* mine = temporary;
    if (slot.compare_exchange_strong(mine, nullptr)) return;
  }
}

// The digits of a process number, at most: the temporary name keeps room
// for them, so that a name is shortened alike whichever process writes it.
constexpr std::size_t pid_room = 10;
constexpr std::string_view temporary_suffix = ".tmp";

// FNV-1a: a shortened name carries this of the whole one, so that two long
// names that begin alike get different temporary files.
std::uint32_t name_hash(std::string_view name) {
  std::uint32_t hash = 2166136261u;
  for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return hash;
}

// NAME of ".NAME.PID.tmp": `base` itself where the whole fits both the
// longest name `directory` takes and the longest path, otherwise the start
// of `base` (never cut inside a UTF-8 character) and "~" with its hash.
std::string temporary_stem(const std::string& base, std::string_view prefix) {
  const std::string directory = prefix.empty() ? "." : std::string(prefix);
  long name_max = ::pathconf(directory.c_str(), _PC_NAME_MAX);
  if (name_max <= 0) name_max = NAME_MAX;
  const std::size_t path_room = prefix.size() < PATH_MAX - 1 ? PATH_MAX - 1 - prefix.size() : 0;
  const std::size_t longest = std::min(static_cast<std::size_t>(name_max), path_room);
  const std::size_t frame = 2 + pid_room + temporary_suffix.size();  // ".", ".", PID, ".tmp"
  if (frame + base.size() <= longest) return base;
  char mark[9] = {'~'};
  const std::uint32_t hash = name_hash(base);
  for (int k = 0; k < 8; ++k) mark[1 + k] = "0123456789abcdef"[(hash >> (28 - 4 * k)) & 15];
  std::size_t keep = longest > frame + sizeof mark ? longest - frame - sizeof mark : 0;
  while (keep > 0 && (static_cast<unsigned char>(base[keep]) & 0xc0) == 0x80) --keep;
  return base.substr(0, keep) + std::string(mark, sizeof mark);
}

// What a file that cannot be renamed over is, as the end of a sentence.
std::string not_replaceable(mode_t mode) {
  if (S_ISDIR(mode)) return "it is a directory";
  return "it is " + std::string(file_type_name(mode)) + ", not a regular file";
}

int write_piece(int fd, std::string_view bytes) noexcept { return write_all(fd, bytes); }

int write_piece(int fd, const Piece& piece) noexcept {
  return piece.fd < 0 ? write_all(fd, piece.bytes) : write_range(fd, piece.fd, piece.offset, piece.length);
}

}  // namespace

FileReplacement::FileReplacement(std::string name) : name_(std::move(name)) {
  // The kernel's own reading of the name first: a device or a pipe reached
  // through /proc or /dev/stdout is told for what it is.
  struct stat there {};
  if (::stat(name_.c_str(), &there) == 0) {
    existing_type_ = there.st_mode & S_IFMT;
    if (!S_ISREG(there.st_mode)) refuse(not_replaceable(there.st_mode), S_ISDIR(there.st_mode) ? EISDIR : EINVAL);
  } else if (errno != ENOENT) {
    refuse(std::strerror(errno), errno);
  }
  int error = 0;
  target_ = follow_links(name_, error);
  const NameParts parts = split_name(target_);
  directory_ = parts.directory;
  if (refusal_.empty() && error != 0) refuse(std::strerror(error), error);
  if (refusal_.empty() && (parts.name.empty() || parts.name == "." || parts.name == ".."))
    refuse("it is a directory", EISDIR);
  // Reached through /proc, a name may lead to a file that has no name left
  // (its link text ends in " (deleted)"): nothing to rename over.
  struct stat found {};
  if (refusal_.empty() && existing_type_ != 0 &&
      (::lstat(target_.c_str(), &found) != 0 || found.st_dev != there.st_dev || found.st_ino != there.st_ino))
    refuse("its symbolic links do not lead to a file that can be replaced", ENOENT);
  stem_ = temporary_stem(parts.name, directory_prefix(target_));
  temporary_ = std::string(directory_prefix(target_)) + "." + stem_ + "." + std::to_string(::getpid()) +
               std::string(temporary_suffix);
}

FileReplacement::~FileReplacement() { discard(); }

void FileReplacement::refuse(std::string why, int error) {
  refusal_ = std::move(why);
  refusal_error_ = error;
}

int FileReplacement::begin(int& fd) const noexcept {
  const char* temporary = temporary_.c_str();
  // Enlisted first: a signal that comes while it is created still finds it.
  enlist(temporary);
  for (int attempt = 0;; ++attempt) {
    // O_EXCL|O_NOFOLLOW: nothing planted under the name, link or file, is
    // written through.
    do fd = ::open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0) return 0;
    // A temporary file of an ended process that had this number: removed.
    if (errno != EEXIST || attempt == 1) break;
    ::unlink(temporary);
  }
  const int error = errno;
  strike(temporary);
  return error;
}

int FileReplacement::finish(int fd) const noexcept {
  int error = 0;
  struct stat there {}, mine {};
  if (::lstat(target_.c_str(), &there) == 0) {
    if (!S_ISREG(there.st_mode)) {
      error = replacement_not_regular;
    } else if (::fstat(fd, &mine) != 0) {
      error = errno;
    } else if ((mine.st_uid != there.st_uid || mine.st_gid != there.st_gid) &&
               ::fchown(fd, there.st_uid, there.st_gid) != 0) {
      error = replacement_owner_not_kept;
    } else if (::fchmod(fd, there.st_mode & 07777) != 0) {
      // The mode after the owner: giving a file away clears its set-user-ID bit.
      error = errno;
    }
  } else if (errno != ENOENT) {
    error = errno;
  }
  if (error == 0) error = sync_file(fd);
  if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
  return error;
}

int FileReplacement::commit() const noexcept {
  struct stat there {};
  if (::lstat(target_.c_str(), &there) == 0 && !S_ISREG(there.st_mode)) return replacement_not_regular;
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) return errno;
  strike(temporary_.c_str());
  return sync_directory(directory_.c_str());
}

void FileReplacement::discard() const noexcept {
  const int saved_errno = errno;
  ::unlink(temporary_.c_str());
  strike(temporary_.c_str());
  errno = saved_errno;
}

int FileReplacement::replace(std::span<const std::string_view> pieces) const noexcept {
  return replace_with(pieces);
}

int FileReplacement::replace(std::span<const Piece> pieces) const noexcept { return replace_with(pieces); }

template <typename Pieces>
int FileReplacement::replace_with(const Pieces& pieces) const noexcept {
  const int saved_errno = errno;
  int fd = -1;
  int error = begin(fd);
  if (error == 0) {
    for (const auto& piece : pieces)
      if (error == 0) error = write_piece(fd, piece);
    if (error == 0)
      error = finish(fd);
    else
      ::close(fd);
    if (error == 0) error = commit();
    if (error != 0) discard();
  }
  errno = saved_errno;
  return error;
}

int FileReplacement::probe() const noexcept {
  int fd = -1;
  if (const int error = begin(fd); error != 0) return error;
  struct stat there {}, mine {};
  int error = 0;
  if (::lstat(target_.c_str(), &there) == 0 && S_ISREG(there.st_mode) && ::fstat(fd, &mine) == 0 &&
      (mine.st_uid != there.st_uid || mine.st_gid != there.st_gid) && ::fchown(fd, there.st_uid, there.st_gid) != 0)
    error = replacement_owner_not_kept;
  ::close(fd);
  discard();
  return error;
}

std::string FileReplacement::error_text(int error) const {
  struct stat there {};
  const bool exists = ::lstat(target_.c_str(), &there) == 0;
  if (error == replacement_not_regular) return exists ? not_replaceable(there.st_mode) : "it is no longer a regular file";
  if (error == replacement_owner_not_kept)
    return "it belongs to user " + std::to_string(there.st_uid) + ", group " + std::to_string(there.st_gid) +
           ", and a replacement could not be given to them; it is left as it was";
  return std::strerror(error);
}

void FileReplacement::remove_stale_temporaries() const {
  DIR* directory = ::opendir(directory_.c_str());
  if (directory == nullptr) return;
  const std::string prefix = "." + stem_ + ".";
  while (const dirent* entry = ::readdir(directory)) {
    const std::string_view name = entry->d_name;
    if (name.size() <= prefix.size() + temporary_suffix.size() || !name.starts_with(prefix) ||
        !name.ends_with(temporary_suffix))
      continue;
    const std::string_view digits = name.substr(prefix.size(), name.size() - prefix.size() - temporary_suffix.size());
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    if (error != std::errc() || end != digits.data() + digits.size() || pid <= 0 || pid == ::getpid()) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // running, or not ours to tell
    ::unlinkat(::dirfd(directory), entry->d_name, 0);
  }
  ::closedir(directory);
}

void remove_live_temporaries() noexcept {
  const int saved_errno = errno;
  for (std::atomic<const char*>& slot : live)
    if (const char* temporary = slot.exchange(nullptr)) ::unlink(temporary);
  errno = saved_errno;
}

}  // namespace blockeig::runtime
