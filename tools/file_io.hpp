#pragma once
// scrtool's files: whole-file input, random access to A.SCR, and output that
// appears under its name only once it is complete.
#include <cstdint>
#include <functional>
#include <string>

#include "tools/record_codec.hpp"

namespace scrtool {

// The whole content of `path`. Throws ToolError naming the file and the
// system's reason.
std::string read_file(const std::string& path);

// A file opened for reading with pread; throws ToolError if it cannot be opened.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(const std::string& path);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  std::int64_t size() const override { return size_; }
  std::size_t read(std::int64_t offset, std::span<std::uint8_t> out) const override;
  std::string file_path() const override { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::int64_t size_ = 0;
};

// Runs `write` with a sink into a temporary file in the directory of `path`
// and renames it to `path` once `write` has returned and every byte has
// reached the disk. On any failure (an exception from `write`, a refused
// write) the temporary file is removed, `path` is left as it was, and the
// failure propagates as ToolError. The new file gets the permissions a
// newly created file would get.
void write_file_atomically(const std::string& path, const std::function<void(const ByteSink&)>& write);

}  // namespace scrtool
