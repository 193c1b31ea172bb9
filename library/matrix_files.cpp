// Matrix files (A.SCR) for the library's callers: the program's acceptance
// rules over a plain file descriptor, every refusal returned as an Error.
// The record layout and its limits are io/record_format.hpp's.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "blockeig/blockeig.hpp"
#include "io/record_format.hpp"
#include "library/call.hpp"
#include "runtime/posix_file.hpp"
#include "runtime/printable.hpp"
#include "runtime/replace_file.hpp"
#include "runtime/run_constants.hpp"

namespace blockeig {

namespace {

using io::marker_size;

std::string number(std::int64_t value) { return std::to_string(value); }

[[noreturn]] void refuse_file(const std::string& path, std::string_view doing, std::string_view why, int error) {
  throw Error(Errc::file_error, "cannot " + std::string(doing) + " " + path + ": " + std::string(why), error);
}

[[noreturn]] void refuse_file(const std::string& path, std::string_view doing, int error) {
  refuse_file(path, doing, std::strerror(error), error);
}

// A name with a NUL in it would be cut there by the system (another file
// read, or replaced): refused, as an invalid argument.
void check_name(const std::string& path, std::string_view doing) {
  if (path.find('\0') != std::string::npos)
    refuse_file(runtime::printable(path), doing, "the name holds a NUL character", EINVAL);
}

// A replacement's failure that is no errno, as one: the file has become a
// directory or another file that is not a regular one, or its owner could
// not be kept.
int errno_of(const runtime::FileReplacement& replacement, int error) {
  if (error == runtime::replacement_owner_not_kept) return EPERM;
  if (error != runtime::replacement_not_regular) return error;
  struct stat there {};
  return ::lstat(replacement.target().c_str(), &there) == 0 && S_ISDIR(there.st_mode) ? EISDIR : EINVAL;
}

// A matrix file being read, front to back.
class RecordReader {
 public:
  RecordReader(const std::string& path, bool reversed) : path_(path), reversed_(reversed) {
    do fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) refuse_file(path_, "open", errno);
  }
  ~RecordReader() { ::close(fd_); }
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // The leading marker of record `record`: its data length, framed as the
  // program frames it (a record that cannot be whole is damaged before any
  // memory is asked for its data).
  std::int64_t begin_record(int record) {
    record_ = {record, offset_, 0};
    unsigned char marker[marker_size];
    const std::size_t got = read(marker, marker_size);
    const std::int64_t after = runtime::bytes_left(fd_);
    const io::RecordFraming framing = io::frame_record(std::span(marker, got), reversed_, after);
    record_.available = static_cast<std::int64_t>(got) + (after > 0 ? after : 0);
    if (framing.framing != io::Framing::complete) damaged(io::framing_text(framing, record_));
    length_ = framing.length;
    return framing.length;
  }

  // The next `count` bytes of the current record into `into`; a file that
  // ends first holds a damaged record.
  void take(void* into, std::size_t count) {
    if (read(into, count) < count) {
      record_.available = offset_ - record_.offset;
      damaged(io::framing_text({io::Framing::truncated, length_}, record_));
    }
  }

  // Passes over `count` bytes (the rest of a record and its trailing marker,
  // which is not compared).
  void pass(std::int64_t count) {
    char scratch[4096];
    while (count > 0) {
      const std::size_t piece = count < std::int64_t{sizeof scratch} ? static_cast<std::size_t>(count) : sizeof scratch;
      take(scratch, piece);
      count -= static_cast<std::int64_t>(piece);
    }
  }

  [[noreturn]] void damaged(const std::string& what) const {
    throw Error(Errc::damaged_file, path_ + ": " + what);
  }

 private:
  // Up to `count` bytes; fewer only at the end of the file.
  std::size_t read(void* into, std::size_t count) {
    std::size_t got = 0;
    while (got < count) {
      const ssize_t n = ::read(fd_, static_cast<char*>(into) + got, count - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) refuse_file(path_, "read", errno);
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    offset_ += static_cast<std::int64_t>(got);
    return got;
  }

  std::string path_;
  bool reversed_;
  int fd_ = -1;
  std::int64_t offset_ = 0;  // the bytes read so far
  io::RecordPlace record_;   // the record being read
  std::int32_t length_ = 0;  // its leading marker
};

// Orders a matrix file can hold: from the smallest the program takes to
// the largest whose matrix fits one record.
void check_file_order(std::int64_t n, const std::string& path) {
  if (n < run::min_matrix_order || n > io::max_matrix_order)
    throw Error(Errc::bad_order, path + ": order " + number(n) + " is not from " + number(run::min_matrix_order) +
                                     " to " + number(io::max_matrix_order) + " (a matrix file's record holds at most " +
                                     number(io::max_record_length) + " bytes)");
}

}  // namespace

Matrix read_scr(const std::string& path, ByteOrder order) {
  check_name(path, "open");
  return library::guarded([&] {
    RecordReader file(path, order == ByteOrder::big);
    const std::int64_t order_bytes = file.begin_record(1);
    if (order_bytes < 4) file.damaged("record 1 holds " + number(order_bytes) + " data bytes, too few for the order (4)");
    char item[4];
    file.take(item, sizeof item);
    file.pass(order_bytes - 4 + static_cast<std::int64_t>(marker_size));
    const auto n = io::load_item<std::int32_t>(item, order == ByteOrder::big);
    check_file_order(n, path);

    const std::int64_t matrix_bytes = file.begin_record(2);
    const std::size_t count = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    const auto needed = static_cast<std::int64_t>(count * sizeof(double));
    if (matrix_bytes < needed)
      file.damaged("record 2 holds " + number(matrix_bytes) + " data bytes; order " + number(n) + " needs " +
                   number(needed));
    Matrix m;
    m.n = n;
    m.elements.resize(count);
    file.take(m.elements.data(), static_cast<std::size_t>(needed));
    file.pass(matrix_bytes - needed + static_cast<std::int64_t>(marker_size));
    if (order == ByteOrder::big)
      for (double& x : m.elements) io::reverse_bytes(&x, sizeof x);
    return m;
  });
}

void write_scr(const std::string& path, MatrixRef a, ByteOrder order) {
  check_name(path, "write");
  const std::int32_t n = library::checked_order(a);
  check_file_order(n, path);
  library::guarded([&] {
    const bool reversed = order == ByteOrder::big;
    const std::size_t count = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    const std::int32_t order_items[] = {n};
    const std::string head = io::record_bytes(io::item_bytes<std::int32_t>(order_items, reversed), reversed);
    char marker[marker_size];
    io::store_item(static_cast<std::int32_t>(count * sizeof(double)), reversed, marker);
    // The caller's matrix goes out as it lies when it is stored column by
    // column in this machine's order; otherwise it is laid out so first.
    std::string laid_out;
    std::string_view matrix(reinterpret_cast<const char*>(a.data), count * sizeof(double));
    if (reversed || a.row_stride != 1 || a.ld != a.n) {
      laid_out.resize(count * sizeof(double));
      char* out = laid_out.data();
      for (std::int64_t j = 0; j < n; ++j)
        for (std::int64_t i = 0; i < n; ++i, out += sizeof(double))
          io::store_item(a.data[i * a.row_stride + j * a.ld], reversed, out);
      matrix = laid_out;
    }
    const std::string_view pieces[] = {head, {marker, marker_size}, matrix, {marker, marker_size}};
    const std::lock_guard lock(library::file_writing());
    const runtime::FileReplacement replacement(path);
    if (const int error = replacement.refusal_error(); error != 0)
      refuse_file(path, "write", error == EISDIR ? std::strerror(error) : replacement.refusal(), error);
    if (const int error = replacement.replace(pieces); error != 0)
      refuse_file(path, "write", replacement.error_text(error), errno_of(replacement, error));
  });
}

}  // namespace blockeig
