#include "io/file_stream.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime/posix_file.hpp"
#include "runtime/ready_wait.hpp"

namespace blockeig::io {

using runtime::wait_if_not_ready;
using runtime::write_all;

FileStream::~FileStream() {
  if (owned_ && fd_ >= 0) ::close(fd_);
}

void FileStream::attach(int fd, bool owned, bool unbuffered) {
  fd_ = fd;
  owned_ = owned;
  unbuffered_ = unbuffered;
}

int FileStream::write(std::string_view bytes) {
  if (unbuffered_) {
    const int error = write_all(fd_, bytes);
    return error == EPIPE ? 0 : error;
  }
  if (!out_) out_ = std::make_unique<char[]>(file_buffer_size);
  while (!bytes.empty()) {
    const std::size_t room = file_buffer_size - out_length_;
    const std::size_t n = bytes.size() < room ? bytes.size() : room;
    std::memcpy(out_.get() + out_length_, bytes.data(), n);
    out_length_ += n;
    bytes.remove_prefix(n);
    if (out_length_ == file_buffer_size) {
      if (const int error = flush()) return error;
    }
  }
  return 0;
}

int FileStream::flush() {
  if (out_length_ == 0) return 0;
  const std::size_t count = out_length_;
  out_length_ = 0;  // a refused buffer is not offered again
  return write_all(fd_, std::string_view(out_.get(), count));
}

int FileStream::truncate_here() {
  if (const int error = flush()) return error;
  const off_t here = ::lseek(fd_, 0, SEEK_CUR);
  if (here < 0) return errno == ESPIPE ? 0 : errno;
  if (::ftruncate(fd_, here) != 0) return errno == EINVAL ? 0 : errno;  // not a regular file
  return 0;
}

std::int64_t FileStream::read(char* into, std::int64_t count) {
  if (const int error = flush()) {
    errno = error;
    return -1;
  }
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t piece = count - done < (1 << 30) ? count - done : (1 << 30);
    const ssize_t n = ::read(fd_, into + done, static_cast<std::size_t>(piece));
    if (n < 0) {
      if (errno == EINTR || wait_if_not_ready(fd_, POLLIN)) continue;
      return -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

int FileStream::read_byte(int* error) {
  *error = 0;
  if (in_begin_ == in_end_) {
    if (in_exhausted_) return -1;
    if (!in_) in_ = std::make_unique<char[]>(input_piece_size);
    ssize_t n;
    do n = ::read(fd_, in_.get(), input_piece_size);
    while (n < 0 && (errno == EINTR || wait_if_not_ready(fd_, POLLIN)));
    if (n < 0) {
      *error = errno;
      return -1;
    }
    if (n == 0) {
      in_exhausted_ = true;
      return -1;
    }
    in_begin_ = 0;
    in_end_ = static_cast<std::size_t>(n);
  }
  return static_cast<unsigned char>(in_[in_begin_++]);
}

int FileStream::close() {
  const int error = flush();
  if (owned_ && fd_ >= 0) {
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 && error == 0) return errno;
  }
  return error;
}

}  // namespace blockeig::io
