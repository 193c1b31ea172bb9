#include "tools/file_io.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

std::string reason() { return std::strerror(errno); }

void write_all(int fd, std::span<const std::uint8_t> bytes, const std::string& path) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      throw ToolError("cannot write " + path + ": " + reason());
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
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

}  // namespace

std::string read_file(const std::string& path) {
  FileSource source(path);
  std::string text(static_cast<std::size_t>(source.size()), '\0');
  const std::size_t got =
      source.read(0, std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size()));
  text.resize(got);
  return text;
}

FileSource::FileSource(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw ToolError("cannot open " + path + ": " + reason());
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    const std::string why = S_ISDIR(info.st_mode) ? "it is a directory" : "it is not a regular file";
    ::close(fd_);
    throw ToolError("cannot read " + path + ": " + why);
  }
  size_ = info.st_size;
}

FileSource::~FileSource() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t FileSource::read(std::int64_t offset, std::span<std::uint8_t> out) const {
  std::size_t total = 0;
  while (total < out.size()) {
    const ssize_t got = ::pread(fd_, out.data() + total, out.size() - total, offset + static_cast<std::int64_t>(total));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw ToolError("cannot read " + path_ + ": " + reason());
    }
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
  }
  return total;
}

void write_file_atomically(const std::string& path, const std::function<void(const ByteSink&)>& write) {
  std::string temporary = directory_of(path) + "/." + base_of(path) + ".scrtool-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) throw ToolError("cannot create a file in " + directory_of(path) + " for " + path + ": " + reason());
  bool closed = false;
  try {
    write([&](std::span<const std::uint8_t> piece) { write_all(fd, piece, path); });
    if (::fchmod(fd, creation_mode()) != 0 || ::fsync(fd) != 0)
      throw ToolError("cannot write " + path + ": " + reason());
    closed = true;
    if (::close(fd) != 0) throw ToolError("cannot write " + path + ": " + reason());
  } catch (...) {
    if (!closed) ::close(fd);
    ::unlink(temporary.c_str());
    throw;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string why = reason();
    ::unlink(temporary.c_str());
    throw ToolError("cannot create " + path + ": " + why);
  }
}

}  // namespace scrtool
