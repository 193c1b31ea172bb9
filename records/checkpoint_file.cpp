#include "records/checkpoint_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

#include "records/sha256.hpp"
#include "io/record_format.hpp"
#include "runtime/posix_file.hpp"
#include "runtime/run_constants.hpp"

namespace blockeig {

namespace {

static_assert(std::endian::native == std::endian::little, "checkpoints are written in this machine's order");

constexpr std::string_view magic = "blockeig chkpnt\n";
static_assert(magic.size() == 16);
constexpr std::uint32_t byte_order_mark = 0x01020304;
constexpr std::uint32_t reversed_byte_order_mark = 0x04030201;
// The part of the header that every version keeps: magic, mark, version
// and size.
constexpr std::size_t envelope_size = 32;

// Offsets in the header.
enum Offset : std::size_t {
  at_mark = 16,
  at_version = 20,
  at_size = 24,
  at_matrix = 32,
  at_N = 64,
  at_NBLOCKS = 68,
  at_ITER = 72,
  at_IERR = 76,
  at_EPREV = 80,
  at_convert = 88,
  at_reserved = 92,
  at_output = 96,
  at_results = 104,
};
static_assert(at_results + 8 == checkpoint_header_size);

template <typename T>
void put(char* header, std::size_t offset, T value) {
  std::memcpy(header + offset, &value, sizeof value);
}

template <typename T>
T get(const char* header, std::size_t offset) {
  T value;
  std::memcpy(&value, header + offset, sizeof value);
  return value;
}

std::uint64_t array_bytes(std::int32_t N) {
  const std::uint64_t n = static_cast<std::uint64_t>(N);
  return 8 * n * n + 8 * n;
}

// The size of the file that holds these fields; N must be within the
// record format's orders and the two text sizes below 2^60.
std::uint64_t file_size(const CheckpointFields& fields) {
  return checkpoint_header_size + array_bytes(fields.N) + fields.output_bytes + fields.results_bytes +
         checkpoint_digest_size;
}

void encode_header(const CheckpointFields& fields, char* header) {
  std::memset(header, 0, checkpoint_header_size);
  std::memcpy(header, magic.data(), magic.size());
  put(header, at_mark, byte_order_mark);
  put(header, at_version, static_cast<std::uint32_t>(checkpoint_format_version));
  put(header, at_size, file_size(fields));
  std::memcpy(header + at_matrix, fields.matrix_sha256.data(), fields.matrix_sha256.size());
  put(header, at_N, fields.N);
  put(header, at_NBLOCKS, fields.NBLOCKS);
  put(header, at_ITER, fields.ITER);
  put(header, at_IERR, fields.IERR);
  put(header, at_EPREV, fields.EPREV);
  put(header, at_convert, static_cast<std::int32_t>(fields.convert));
  put(header, at_output, fields.output_bytes);
  put(header, at_results, fields.results_bytes);
}

std::span<const std::uint8_t> bytes_of(const void* data, std::size_t size) {
  return {static_cast<const std::uint8_t*>(data), size};
}

// Reads `count` bytes at `offset`: 0, the errno of a refusal, or -1 when
// the file ends first.
int read_at(int fd, std::uint64_t offset, void* into, std::size_t count) {
  const std::int64_t got = runtime::read_at(fd, offset, into, count);
  return got < 0 ? errno : static_cast<std::size_t>(got) < count ? -1 : 0;
}

std::string cannot_read(int error) {
  return error < 0 ? "has changed while it was read" : std::string("cannot be read: ") + std::strerror(error);
}

// The digest of the first `length` bytes of the file, read piece by piece.
int digest_of_prefix(int fd, std::uint64_t length, std::array<std::uint8_t, 32>& digest) {
  Sha256 sha;
  std::vector<char> piece(std::min<std::uint64_t>(length, 1u << 20));
  for (std::uint64_t offset = 0; offset < length;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), length - offset));
    if (const int error = read_at(fd, offset, piece.data(), n)) return error;
    sha.update(bytes_of(piece.data(), n));
    offset += n;
  }
  digest = sha.finish();
  return 0;
}

constexpr std::string_view not_written_by_blockeig = "is damaged: its fields are not those of any checkpoint";

// The fields of a version-1 header whose digest is sound, checked against
// the limits of a run and the file's size.
std::string decode_fields(const char* header, std::uint64_t size, CheckpointFields& fields) {
  std::memcpy(fields.matrix_sha256.data(), header + at_matrix, fields.matrix_sha256.size());
  fields.N = get<std::int32_t>(header, at_N);
  fields.NBLOCKS = get<std::int32_t>(header, at_NBLOCKS);
  fields.ITER = get<std::int32_t>(header, at_ITER);
  fields.IERR = get<std::int32_t>(header, at_IERR);
  fields.EPREV = get<double>(header, at_EPREV);
  const std::int32_t convert = get<std::int32_t>(header, at_convert);
  fields.output_bytes = get<std::uint64_t>(header, at_output);
  fields.results_bytes = get<std::uint64_t>(header, at_results);
  const bool sound = fields.N >= run::min_matrix_order && fields.N <= io::max_matrix_order && fields.NBLOCKS >= 1 &&
                     fields.NBLOCKS <= fields.N / 2 && fields.ITER >= 1 && fields.ITER < run::max_sweeps &&
                     convert >= 0 && convert < runtime::convert_count && get<std::int32_t>(header, at_reserved) == 0 &&
                     size < (std::uint64_t{1} << 62) && fields.output_bytes <= size && fields.results_bytes <= size &&
                     file_size(fields) == size;
  if (!sound) return std::string(not_written_by_blockeig);
  fields.convert = static_cast<runtime::Convert>(convert);
  return {};
}

}  // namespace

CheckpointImage::CheckpointImage(CheckpointFields fields, const double* C, const double* E, std::string_view output,
                                 std::string_view results_state) {
  fields.output_bytes = output.size();
  fields.results_bytes = results_state.size();
  encode_header(fields, header_);
  const std::size_t n = static_cast<std::size_t>(fields.N);
  pieces_[0] = {header_, sizeof header_};
  pieces_[1] = {reinterpret_cast<const char*>(C), n * n * sizeof(double)};
  pieces_[2] = {reinterpret_cast<const char*>(E), n * sizeof(double)};
  pieces_[3] = output;
  pieces_[4] = results_state;
  Sha256 sha;
  for (std::size_t k = 0; k < 5; ++k) sha.update(bytes_of(pieces_[k].data(), pieces_[k].size()));
  digest_ = sha.finish();
  pieces_[5] = {reinterpret_cast<const char*>(digest_.data()), digest_.size()};
}

std::string check_checkpoint(int fd, CheckpointFields& fields) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return cannot_read(errno);
  if (!S_ISREG(info.st_mode)) return "is not a regular file";
  const std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
  if (size == 0) return "is empty";

  char header[checkpoint_header_size] = {};
  const std::size_t head = static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof header));
  if (const int error = read_at(fd, 0, header, head)) return cannot_read(error);
  if (std::memcmp(header, magic.data(), std::min(head, magic.size())) != 0) return "is not a blockeig checkpoint";
  if (size < envelope_size + checkpoint_digest_size)
    return "is truncated: it has " + std::to_string(size) + " bytes, fewer than any checkpoint";
  const std::uint32_t mark = get<std::uint32_t>(header, at_mark);
  if (mark == reversed_byte_order_mark)
    return "was written in big-endian byte order, which this blockeig (little-endian) does not read";
  if (mark != byte_order_mark) return "is damaged: its byte-order mark is neither little- nor big-endian";

  const std::uint64_t announced = get<std::uint64_t>(header, at_size);
  std::array<std::uint8_t, 32> computed{}, stored{};
  if (const int error = digest_of_prefix(fd, size - checkpoint_digest_size, computed)) return cannot_read(error);
  if (const int error = read_at(fd, size - checkpoint_digest_size, stored.data(), stored.size()))
    return cannot_read(error);
  if (computed != stored) {
    if (announced > size)
      return "is truncated: it has " + std::to_string(size) + " of the " + std::to_string(announced) +
             " bytes its header gives";
    return "is damaged: its checksum does not match its content";
  }

  const std::uint32_t version = get<std::uint32_t>(header, at_version);
  if (version > checkpoint_format_version)
    return "has format version " + std::to_string(version) + ", newer than this blockeig reads (version " +
           std::to_string(checkpoint_format_version) + ")";
  if (version != checkpoint_format_version || announced != size ||
      size < checkpoint_header_size + checkpoint_digest_size)
    return std::string(not_written_by_blockeig);
  return decode_fields(header, size, fields);
}

std::string load_checkpoint(int fd, const CheckpointFields& fields, double* C, double* E, std::string& output,
                            std::string& results_state) {
  constexpr std::string_view changed = "has changed since the run began";
  struct stat info {};
  if (::fstat(fd, &info) != 0) return cannot_read(errno);
  if (static_cast<std::uint64_t>(info.st_size) != file_size(fields)) return std::string(changed);
  char expected[checkpoint_header_size], header[checkpoint_header_size];
  encode_header(fields, expected);
  if (const int error = read_at(fd, 0, header, sizeof header)) return cannot_read(error);
  if (std::memcmp(header, expected, sizeof header) != 0) return std::string(changed);

  const std::size_t n = static_cast<std::size_t>(fields.N);
  output.resize(fields.output_bytes);
  results_state.resize(fields.results_bytes);
  struct Part {
    void* into;
    std::size_t bytes;
  };
  const Part parts[] = {{C, n * n * sizeof(double)},
                        {E, n * sizeof(double)},
                        {output.data(), output.size()},
                        {results_state.data(), results_state.size()}};
  Sha256 sha;
  sha.update(bytes_of(header, sizeof header));
  std::uint64_t offset = sizeof header;
  for (const Part& part : parts) {
    if (const int error = read_at(fd, offset, part.into, part.bytes)) return cannot_read(error);
    sha.update(bytes_of(part.into, part.bytes));
    offset += part.bytes;
  }
  std::array<std::uint8_t, 32> stored{};
  if (const int error = read_at(fd, offset, stored.data(), stored.size())) return cannot_read(error);
  if (sha.finish() != stored) return std::string(changed);
  return {};
}

}  // namespace blockeig
