#include "tools/file_io.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/posix_file.hpp"
#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {

std::string read_file(const std::string& path) {
  FileSource source(path);
  std::string text(static_cast<std::size_t>(source.size()), '\0');
  const std::size_t got =
      source.read(0, std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size()));
  text.resize(got);
  return text;
}

// O_NONBLOCK keeps open() from waiting for a writer when the name is a FIFO;
// the check that follows refuses it, and it means nothing for a regular file.
FileSource::FileSource(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) throw ToolError("cannot open " + printable(path) + ": " + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    const std::string why = S_ISDIR(info.st_mode) ? "it is a directory" : "it is not a regular file";
    ::close(fd_);
    throw ToolError("cannot read " + printable(path) + ": " + why);
  }
  size_ = info.st_size;
}

FileSource::~FileSource() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t FileSource::read(std::int64_t offset, std::span<std::uint8_t> out) const {
  const std::int64_t got = blockeig::runtime::read_at(fd_, static_cast<std::uint64_t>(offset), out.data(), out.size());
  if (got < 0) throw ToolError("cannot read " + printable(path_) + ": " + std::strerror(errno));
  return static_cast<std::size_t>(got);
}

ScratchFolder::ScratchFolder(std::string pattern, std::string_view failure) {
  if (::mkdtemp(pattern.data()) == nullptr) throw ToolError(std::string(failure) + ": " + std::strerror(errno));
  path_ = std::filesystem::absolute(pattern);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace scrtool
