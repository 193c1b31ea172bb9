#pragma once
// A platform file (or standard stream) with the run-time's buffering: file
// units collect output in a 16,384-byte buffer; standard units pass every
// record to the platform at once. Reads are plain requests that report how
// many bytes they found; standard input keeps a small read-ahead so that
// it can be taken a byte at a time.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace blockeig::io {

inline constexpr std::size_t file_buffer_size = 16'384;
inline constexpr std::size_t input_piece_size = 2'000;

class FileStream {
 public:
  FileStream() = default;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;
  ~FileStream();

  // Takes `fd`; `owned` streams are closed by close(), standard ones only
  // flushed. An unbuffered stream writes each piece at once.
  void attach(int fd, bool owned, bool unbuffered);
  int fd() const { return fd_; }
  bool unbuffered() const { return unbuffered_; }

  // Appends bytes at the current position. A buffered stream passes the
  // buffer on whenever it fills, an unbuffered one passes the bytes on at
  // once; returns 0, or the errno of a refused write. For an unbuffered
  // stream (a standard unit) a reader that went away (EPIPE, a closed pipe)
  // is no refusal: the output has nowhere to go, and the run goes on.
  int write(std::string_view bytes);
  // Passes pending output to the platform; 0 or the errno of the refusal.
  int flush();
  // Sets the end of the file at the current position (after a flush);
  // 0 or errno.
  int truncate_here();
  // Reads up to `count` bytes; returns the number found (fewer at the end of
  // the file), or -1 with errno set.
  std::int64_t read(char* into, std::int64_t count);
  // The next byte of the stream (0 to 255), taken from a read-ahead of up
  // to input_piece_size bytes; -1 when the stream is exhausted, or with
  // *error set to errno when the platform refuses.
  int read_byte(int* error);
  // Flushes and, for an owned stream, closes; 0 or the errno of the first
  // refusal.
  int close();

 private:
  int fd_ = -1;
  bool owned_ = false;
  bool unbuffered_ = false;
  std::unique_ptr<char[]> out_;
  std::size_t out_length_ = 0;
  std::unique_ptr<char[]> in_;
  std::size_t in_begin_ = 0;
  std::size_t in_end_ = 0;
  bool in_exhausted_ = false;
};

}  // namespace blockeig::io
