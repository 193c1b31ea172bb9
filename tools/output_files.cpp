// write_files: every output of a command appears complete, or none changes.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tools/file_io.hpp"
#include "tools/temporary_files.hpp"
#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

// Links followed before giving up, as the kernel does (ELOOP).
constexpr int max_link_hops = 40;

std::string reason() { return std::strerror(errno); }

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
  throw ToolError("cannot write " + printable(path) + ": " + why);
}

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A newly created file's mode: 0666 less the umask. The umask can only be
// read by setting it, so it is put back at once.
mode_t creation_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// The file a name stands for once its symbolic links are followed; the last
// link of a dangling chain leads to where the file is to be created.
std::string follow_links(const std::string& name) {
  std::string path = name;
  for (int hop = 0;; ++hop) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    if (hop == max_link_hops) refuse(name, std::strerror(ELOOP));
    char link[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), link, sizeof link);
    if (length < 0) refuse(name, reason());
    if (static_cast<std::size_t>(length) == sizeof link) refuse(name, std::strerror(ENAMETOOLONG));
    const std::string target(link, static_cast<std::size_t>(length));
    path = target.starts_with('/') ? target : directory_of(path) + "/" + target;
  }
}

// "[DIR/].BASE.scrtool-XXXXXX", with BASE shortened (never inside a UTF-8
// character) where the whole would be longer than a name the directory
// takes, so that the temporary name fits wherever the target's name fits.
std::string temporary_template(const std::string& path) {
  static constexpr std::string_view tail = ".scrtool-XXXXXX";
  const std::string directory = directory_of(path);
  const std::string prefix = path.find('/') == std::string::npos ? "" : directory == "/" ? "/" : directory + "/";
  long name_max = ::pathconf(directory.c_str(), _PC_NAME_MAX);
  if (name_max <= 0) name_max = NAME_MAX;
  const std::size_t path_room = prefix.size() < PATH_MAX - 1 ? PATH_MAX - 1 - prefix.size() : 0;
  const std::size_t longest = std::min(static_cast<std::size_t>(name_max), path_room);
  std::string base = base_of(path);
  const std::size_t keep = longest > tail.size() + 1 ? longest - tail.size() - 1 : 0;
  if (base.size() > keep) {
    std::size_t cut = keep;
    while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xc0) == 0x80) --cut;
    base.resize(cut);
  }
  return prefix + "." + base + std::string(tail);
}

// Where one output goes.
struct Target {
  const OutputFile* file = nullptr;
  std::string path;          // the file to write, links followed
  bool direct = false;       // an existing file that is not a regular one
  bool exists = false;
  struct stat existing {};   // what is there now, when it exists
  // Tells two names for one regular file apart: the file's own identity,
  // or its directory's and its name for a file still to be created.
  dev_t device = 0;
  ino_t inode = 0;
  std::string new_name;
};

Target resolve(const OutputFile& file) {
  Target t;
  t.file = &file;
  const std::string& name = file.path;
  if (::stat(name.c_str(), &t.existing) == 0) {
    t.exists = true;
    if (S_ISDIR(t.existing.st_mode)) refuse(name, "it is a directory");
    if (S_ISSOCK(t.existing.st_mode)) refuse(name, "it is a socket");
    if (!S_ISREG(t.existing.st_mode)) {
      t.direct = true;
      t.path = name;
      return t;
    }
  } else if (errno != ENOENT) {
    refuse(name, reason());
  }
  t.path = follow_links(name);
  if (base_of(t.path).empty()) refuse(name, "it is a directory");
  if (t.exists) {
    // Reached through /proc, a name may lead to a file that has no name
    // left (its link text ends in " (deleted)"): nothing to rename over.
    struct stat found {};
    if (::lstat(t.path.c_str(), &found) != 0 || found.st_dev != t.existing.st_dev || found.st_ino != t.existing.st_ino)
      refuse(name, "its symbolic links do not lead to a file that can be replaced");
    t.device = t.existing.st_dev;
    t.inode = t.existing.st_ino;
  } else {
    struct stat directory {};
    if (::stat(directory_of(t.path).c_str(), &directory) == 0) t.device = directory.st_dev, t.inode = directory.st_ino;
    t.new_name = base_of(t.path);
  }
  return t;
}

// Two names for one file would leave it holding whichever came last.
void refuse_one_file_twice(const std::vector<Target>& targets) {
  for (std::size_t i = 0; i < targets.size(); ++i)
    for (std::size_t j = i + 1; j < targets.size(); ++j) {
      const Target& a = targets[i];
      const Target& b = targets[j];
      const bool known = a.inode != 0 && b.inode != 0;
      const bool same = known ? a.device == b.device && a.inode == b.inode && a.new_name == b.new_name : a.path == b.path;
      if (!a.direct && !b.direct && same)
        throw ToolError(printable(a.file->path) + " and " + printable(b.file->path) + " are the same file");
    }
}

void write_all(int fd, std::span<const std::uint8_t> bytes, const std::string& path) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      refuse(path, reason());
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
}

// A replaced file keeps its owner and group. Only root may give a file to
// another user, so anyone else is refused at once, before any writing,
// rather than left with a file that changed hands.
void keep_owner(const Target& t, int fd) {
  struct stat now {};
  if (::fstat(fd, &now) != 0) refuse(t.file->path, reason());
  if (now.st_uid == t.existing.st_uid && now.st_gid == t.existing.st_gid) return;
  if (::fchown(fd, t.existing.st_uid, t.existing.st_gid) != 0)
    refuse(t.file->path, "it belongs to user " + std::to_string(t.existing.st_uid) + ", group " +
                             std::to_string(t.existing.st_gid) +
                             ", and a replacement could not be given to them; it is left as it was");
}

// The complete content of a regular target under its temporary name, on
// the disk, with the target's owner, group and mode.
std::unique_ptr<TemporaryFile> write_temporary(const Target& t) {
  auto temporary = std::make_unique<TemporaryFile>(temporary_template(t.path));
  if (!temporary->created())
    throw ToolError("cannot create a file in " + printable(directory_of(t.path)) + " for " + printable(t.file->path) +
                    ": " + reason());
  const int fd = temporary->fd();
  if (t.exists) keep_owner(t, fd);
  t.file->write([&](std::span<const std::uint8_t> piece) { write_all(fd, piece, t.file->path); });
  // The mode last: a write would clear a set-user-ID bit set before it.
  const mode_t mode = t.exists ? t.existing.st_mode & 07777 : creation_mode();
  if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0 || !temporary->close()) refuse(t.file->path, reason());
  return temporary;
}

// A terminal, device or pipe takes the bytes as they come. Opening without
// waiting makes a FIFO that no process reads a refusal, not a hang.
void write_directly(const Target& t) {
  const int fd = ::open(t.path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENXIO && S_ISFIFO(t.existing.st_mode)) refuse(t.file->path, "it is a FIFO that no process reads");
    refuse(t.file->path, reason());
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  try {
    t.file->write([&](std::span<const std::uint8_t> piece) { write_all(fd, piece, t.file->path); });
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) refuse(t.file->path, reason());
}

}  // namespace

void write_files(std::span<const OutputFile> files) {
  std::vector<Target> targets;
  for (const OutputFile& file : files) targets.push_back(resolve(file));
  refuse_one_file_twice(targets);
  std::vector<std::unique_ptr<TemporaryFile>> temporaries(targets.size());
  for (std::size_t k = 0; k < targets.size(); ++k)
    if (!targets[k].direct) temporaries[k] = write_temporary(targets[k]);
  for (const Target& t : targets)
    if (t.direct) write_directly(t);
  for (std::size_t k = 0; k < targets.size(); ++k)
    if (!targets[k].direct && !temporaries[k]->rename_to(targets[k].path))
      throw ToolError("cannot create " + printable(targets[k].file->path) + ": " + reason());
}

void write_file_atomically(const std::string& path, const std::function<void(const ByteSink&)>& write) {
  const OutputFile file{path, write};
  write_files(std::span(&file, 1));
}

}  // namespace scrtool
