#include "records/text_store.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace blockeig {

TextStore::~TextStore() {
  if (fd_ >= 0) ::close(fd_);
}

int TextStore::open() noexcept {
  if (fd_ >= 0) return 0;
  fd_ = ::memfd_create("blockeig-record", MFD_CLOEXEC);
  return fd_ < 0 ? errno : 0;
}

int TextStore::flush() noexcept {
  if (fd_ < 0 && error_ == 0) error_ = EBADF;
  const char* p = buffer_;
  while (error_ == 0 && buffered_ > 0) {
    const ssize_t n = ::pwrite(fd_, p, buffered_, static_cast<off_t>(end_));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? errno : ENOSPC;
      break;
    }
    p += n;
    buffered_ -= static_cast<std::size_t>(n);
    end_ += static_cast<std::uint64_t>(n);
  }
  buffered_ = 0;
  return error_;
}

void TextStore::append(std::string_view bytes) noexcept {
  while (!bytes.empty() && error_ == 0) {
    if (buffered_ == sizeof buffer_) flush();
    const std::size_t n = std::min(bytes.size(), sizeof buffer_ - buffered_);
    std::memcpy(buffer_ + buffered_, bytes.data(), n);
    buffered_ += n;
    bytes.remove_prefix(n);
  }
}

void TextStore::append_from(const TextStore& other, std::uint64_t offset, std::uint64_t length) noexcept {
  char piece[1 << 14];
  while (length > 0 && error_ == 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, sizeof piece));
    if (const int error = other.read(offset, piece, n)) {
      error_ = error;
      return;
    }
    append({piece, n});
    offset += n;
    length -= n;
  }
}

int TextStore::commit() noexcept {
  if (flush() != 0) {
    discard();
    return error_;
  }
  committed_.store(end_);
  return 0;
}

void TextStore::discard() noexcept {
  buffered_ = 0;
  end_ = committed_.load();
}

void TextStore::clear() noexcept {
  committed_.store(0);
  end_ = 0;
  buffered_ = 0;
  error_ = 0;
}

int TextStore::read(std::uint64_t offset, void* into, std::size_t count) const noexcept {
  if (offset > size() || count > size() - offset) return EINVAL;
  char* p = static_cast<char*>(into);
  while (count > 0) {
    const ssize_t n = ::pread(fd_, p, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    p += n;
    offset += static_cast<std::uint64_t>(n);
    count -= static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace blockeig
