#include "records/checkpoint_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <vector>

#include "runtime/console_texts.hpp"
#include "records/line_gatherer.hpp"
#include "records/results_file.hpp"
#include "records/sha256.hpp"
#include "io/format_control.hpp"
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
  // Version 2's sweep rule.
  at_TOL = 112,
  at_max_sweeps = 120,
  at_rule_reserved = 124,
};
static_assert(at_results + 8 == checkpoint_header_size);
static_assert(at_rule_reserved + 4 == checkpoint_header_size + checkpoint_rule_size);
constexpr std::size_t largest_header = checkpoint_header_size + checkpoint_rule_size;

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
  return checkpoint_header_bytes(fields) + array_bytes(fields.N) + fields.output_bytes + fields.results_bytes +
         checkpoint_digest_size;
}

void encode_header(const CheckpointFields& fields, char* header) {
  std::memset(header, 0, checkpoint_header_bytes(fields));
  std::memcpy(header, magic.data(), magic.size());
  put(header, at_mark, byte_order_mark);
  put(header, at_version, static_cast<std::uint32_t>(checkpoint_version(fields)));
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
  if (checkpoint_version(fields) == 1) return;
  put(header, at_TOL, fields.rule.TOL);
  put(header, at_max_sweeps, fields.rule.max_sweeps);
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

using ConsoleLine = LineGatherer<128>;

// The most bytes of console lines that sweeps 1 to ITER in NBLOCKS blocks
// print: NBLOCKS block lines and a sweep line each, none longer than a line
// the content check takes.
std::uint64_t most_console_bytes(std::int32_t ITER, std::int32_t NBLOCKS) {
  return static_cast<std::uint64_t>(ITER) * (static_cast<std::uint64_t>(NBLOCKS) + 1) * (ConsoleLine::capacity + 1);
}

// The largest checkpoint that a run of the program's rule writes: of the
// largest order, in the most blocks, after the last sweep but one.
std::uint64_t largest_checkpoint_size() {
  const std::int32_t N = io::max_matrix_order, NBLOCKS = run::max_block_count(N), ITER = run::max_sweeps - 1;
  return checkpoint_header_size + array_bytes(N) + most_console_bytes(ITER, NBLOCKS) +
         ResultsStateCheck::most_bytes(ITER, N, NBLOCKS) + checkpoint_digest_size;
}

// The fields of a header of `version`, checked against the limits of a run,
// against what such a run writes and against the file's size: a file that
// fails here is refused before its digest is computed, whatever its size.
std::string decode_fields(const char* header, std::uint32_t version, std::uint64_t size, CheckpointFields& fields) {
  std::memcpy(fields.matrix_sha256.data(), header + at_matrix, fields.matrix_sha256.size());
  fields.N = get<std::int32_t>(header, at_N);
  fields.NBLOCKS = get<std::int32_t>(header, at_NBLOCKS);
  fields.ITER = get<std::int32_t>(header, at_ITER);
  fields.IERR = get<std::int32_t>(header, at_IERR);
  fields.EPREV = get<double>(header, at_EPREV);
  const std::int32_t convert = get<std::int32_t>(header, at_convert);
  fields.output_bytes = get<std::uint64_t>(header, at_output);
  fields.results_bytes = get<std::uint64_t>(header, at_results);
  fields.rule = run::SweepRule();
  if (version == 2) fields.rule = {get<double>(header, at_TOL), get<std::int32_t>(header, at_max_sweeps)};
  // Version 2 is written only for a rule of its own.
  const bool rule_sound = version == 1 || (fields.rule.valid() && !fields.rule.is_default() &&
                                           get<std::int32_t>(header, at_rule_reserved) == 0);
  // IERR is the code of a block solve: 0, or the position (of at most N)
  // whose value did not settle.
  const bool sound = fields.N >= run::min_matrix_order && fields.N <= io::max_matrix_order && fields.NBLOCKS >= 1 &&
                     fields.NBLOCKS <= run::max_block_count(fields.N) && rule_sound && fields.ITER >= 1 &&
                     fields.ITER < fields.rule.max_sweeps &&
                     fields.IERR >= 0 && fields.IERR <= fields.N &&
                     convert >= 0 && convert < runtime::convert_count && get<std::int32_t>(header, at_reserved) == 0 &&
                     size < (std::uint64_t{1} << 62) &&
                     fields.output_bytes <= most_console_bytes(fields.ITER, fields.NBLOCKS) &&
                     fields.results_bytes <= ResultsStateCheck::most_bytes(fields.ITER, fields.N, fields.NBLOCKS) &&
                     file_size(fields) == size;
  if (!sound) return std::string(not_written_by_blockeig);
  fields.convert = static_cast<runtime::Convert>(convert);
  return {};
}

std::uint64_t output_offset(const CheckpointFields& fields) {
  return checkpoint_header_bytes(fields) + array_bytes(fields.N);
}

// A field of a console line read back: "-1.50", "0.100E+13", "0.494-323"
// (an exponent of three digits drops its E), "NaN", "+Inf", "-Inf".
bool read_real(std::string_view token, double& value) {
  if (token == "NaN") return value = std::numeric_limits<double>::quiet_NaN(), true;
  if (token == "+Inf" || token == "-Inf")
    return value = token[0] == '-' ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity(),
           true;
  const std::size_t exponent = token.find_first_of("E+-", 1);
  char text[64];
  if (token.size() + 1 > sizeof text) return false;
  std::size_t length = token.copy(text, exponent == std::string_view::npos ? token.size() : exponent);
  if (exponent != std::string_view::npos) {
    text[length++] = 'e';
    length += token.copy(text + length, std::string_view::npos, token[exponent] == 'E' ? exponent + 1 : exponent);
  }
  const auto [end, error] = std::from_chars(text, text + length, value);
  return error == std::errc() && end == text + length;
}

// The digest of pieces of content, those that lie in files read a piece at
// a time: 0 or the errno of a read.
int digest_of(std::span<const runtime::Piece> pieces, std::array<std::uint8_t, 32>& digest) {
  Sha256 sha;
  for (const runtime::Piece& piece : pieces) {
    if (piece.fd < 0) {
      sha.update(bytes_of(piece.bytes.data(), piece.bytes.size()));
      continue;
    }
    const std::string problem = read_piecewise(piece.fd, piece.offset, piece.length, [&](std::string_view bytes) {
      sha.update(bytes_of(bytes.data(), bytes.size()));
    });
    if (!problem.empty()) return EIO;
  }
  digest = sha.finish();
  return 0;
}

// The console lines of sweeps 1 to ITER, read a piece at a time: for each
// sweep NBLOCKS block lines (numbered 1 to NBLOCKS) and its sweep line
// (numbered with the sweep), each the very bytes the program prints for the
// numbers it shows, and the last sweep line showing the saved E(1), E(2),
// E(N-1), E(N) and TOL.
class ConsoleLinesCheck {
 public:
  ConsoleLinesCheck(const CheckpointFields& fields, const double (&last_E)[4])
      : fields_(fields), last_E_(last_E), format_(io::parse_format(console_text::iteration_format)) {}

  void feed(std::string_view bytes) {
    while (!bytes.empty() && !broken_) {
      const auto step = line_.take(bytes);
      if (step == Line::Step::more) return;
      broken_ = step == Line::Step::too_long || !line_is_sound(line_.line());
      line_.clear();
      ++lines_;
    }
  }
  bool finish() const {
    return !broken_ && line_.empty() && lines_ == std::int64_t{fields_.ITER} * (fields_.NBLOCKS + 1);
  }

 private:
  struct Shown : io::RecordSink {
    std::string text;
    void record(std::string_view record) override { text = record; }
  };

  bool line_is_sound(std::string_view line) const {
    const std::int64_t per_sweep = fields_.NBLOCKS + 1;
    const std::int64_t sweep = lines_ / per_sweep + 1;
    const bool sweep_line = lines_ % per_sweep == fields_.NBLOCKS;
    if (sweep > fields_.ITER) return false;
    const std::int32_t number = static_cast<std::int32_t>(sweep_line ? sweep : lines_ % per_sweep + 1);
    std::vector<io::Item> items = {number};
    std::size_t at = line.find_first_not_of(' ');
    for (bool first = true; at != std::string_view::npos; first = false) {
      const std::size_t end = std::min(line.find(' ', at), line.size());
      const std::string_view token = line.substr(at, end - at);
      double value = 0;
      if (first) {
        if (token != std::to_string(number)) return false;
      } else {
        if (!read_real(token, value)) return false;
        items.push_back(value);
      }
      at = line.find_first_not_of(' ', end);
    }
    if (items.size() != (sweep_line ? 7u : 5u)) return false;
    if (sweep_line && sweep == fields_.ITER) {
      for (std::size_t k = 0; k < 4; ++k) items[k + 1] = last_E_[k];
      items[6] = fields_.rule.TOL;
    }
    std::string record;
    Shown shown;
    return format_.ok() && io::write_formatted_records(format_.format, items, record, shown).ok() &&
           shown.text == line;
  }

  const CheckpointFields& fields_;
  const double (&last_E_)[4];
  const io::FormatParse format_;
  using Line = ConsoleLine;
  Line line_;
  std::int64_t lines_ = 0;
  bool broken_ = false;
};

}  // namespace

int checkpoint_version(const CheckpointFields& fields) { return fields.rule.is_default() ? 1 : 2; }

std::size_t checkpoint_header_bytes(const CheckpointFields& fields) {
  return checkpoint_header_size + (checkpoint_version(fields) == 1 ? 0 : checkpoint_rule_size);
}

std::uint64_t results_state_offset(const CheckpointFields& fields) {
  return output_offset(fields) + fields.output_bytes;
}

std::string read_piecewise(int fd, std::uint64_t offset, std::uint64_t length,
                           const std::function<void(std::string_view)>& take) {
  char piece[1 << 16];
  while (length > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, sizeof piece));
    if (const int error = read_at(fd, offset, piece, n)) return cannot_read(error);
    take({piece, n});
    offset += n;
    length -= n;
  }
  return {};
}

std::string check_checkpoint_content(int fd, const CheckpointFields& fields) {
  const std::uint64_t E_offset = checkpoint_header_bytes(fields) + 8 * static_cast<std::uint64_t>(fields.N) * fields.N;
  const std::uint64_t last = static_cast<std::uint64_t>(fields.N) - 1;
  double last_E[4];
  const std::uint64_t positions[4] = {0, 1, last - 1, last};
  for (std::size_t k = 0; k < 4; ++k)
    if (const int error = read_at(fd, E_offset + 8 * positions[k], &last_E[k], sizeof(double)))
      return cannot_read(error);
  ConsoleLinesCheck lines(fields, last_E);
  if (std::string problem = read_piecewise(fd, output_offset(fields), fields.output_bytes,
                                           [&](std::string_view piece) { lines.feed(piece); });
      !problem.empty())
    return problem;
  if (!lines.finish())
    return "is damaged: its console lines do not fit ITER = " + std::to_string(fields.ITER) +
           " and NBLOCKS = " + std::to_string(fields.NBLOCKS);
  if (std::bit_cast<std::uint64_t>(fields.EPREV) != std::bit_cast<std::uint64_t>(last_E[0]))
    return "is damaged: its EPREV is not its E(1)";
  return {};
}

CheckpointImage::CheckpointImage(CheckpointFields fields, const double* C, const double* E, runtime::Piece output,
                                 std::span<const runtime::Piece> results_state) {
  const auto size_of = [](const runtime::Piece& piece) { return piece.fd < 0 ? piece.bytes.size() : piece.length; };
  fields.output_bytes = size_of(output);
  fields.results_bytes = 0;
  for (const runtime::Piece& piece : results_state) fields.results_bytes += size_of(piece);
  encode_header(fields, header_);
  const std::size_t n = static_cast<std::size_t>(fields.N);
  pieces_[count_++] = std::string_view(header_, checkpoint_header_bytes(fields));
  pieces_[count_++] = std::string_view(reinterpret_cast<const char*>(C), n * n * sizeof(double));
  pieces_[count_++] = std::string_view(reinterpret_cast<const char*>(E), n * sizeof(double));
  pieces_[count_++] = output;
  for (const runtime::Piece& piece : results_state.first(std::min<std::size_t>(results_state.size(), 3)))
    pieces_[count_++] = piece;
  error_ = digest_of({pieces_, count_}, digest_);
  pieces_[count_++] = std::string_view(reinterpret_cast<const char*>(digest_.data()), digest_.size());
}

std::string check_checkpoint(int fd, CheckpointFields& fields,
                             const std::function<std::string(const CheckpointFields&)>& fits_run) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return cannot_read(errno);
  if (!S_ISREG(info.st_mode)) return "is not a regular file";
  const std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
  if (size == 0) return "is empty";

  char header[largest_header] = {};
  const std::size_t head = static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof header));
  if (const int error = read_at(fd, 0, header, head)) return cannot_read(error);
  if (std::memcmp(header, magic.data(), std::min(head, magic.size())) != 0) return "is not a blockeig checkpoint";
  if (size < envelope_size + checkpoint_digest_size)
    return "is truncated: it has " + std::to_string(size) + " bytes, fewer than any checkpoint";
  const std::uint32_t mark = get<std::uint32_t>(header, at_mark);
  if (mark == reversed_byte_order_mark)
    return "was written in big-endian byte order, which this blockeig (little-endian) does not read";
  if (mark != byte_order_mark) return "is damaged: its byte-order mark is neither little- nor big-endian";

  // Every version gives its size here: a file of another size is told from
  // a whole one before its bytes are read (it may be gigabytes of nothing).
  const std::uint64_t announced = get<std::uint64_t>(header, at_size);
  if (announced > size)
    return "is truncated: it has " + std::to_string(size) + " of the " + std::to_string(announced) +
           " bytes its header gives";
  if (announced < size)
    return "is damaged: it has " + std::to_string(size) + " bytes, more than the " + std::to_string(announced) +
           " its header gives";
  // The fields, and whether they fit the run, before the digest: it costs a
  // read of the whole file. A file of a version this blockeig does not know
  // is read whole only when it may be a damaged one of a version it knows
  // (no larger than a run of the program's rule writes); else its version
  // is told at once.
  const std::uint32_t version = get<std::uint32_t>(header, at_version);
  const bool known = version >= 1 && version <= checkpoint_format_version;
  const auto version_problem = [&] {
    if (version > checkpoint_format_version)
      return "has format version " + std::to_string(version) + ", newer than this blockeig reads (version " +
             std::to_string(checkpoint_format_version) + ")";
    return std::string(not_written_by_blockeig);
  };
  if (known) {
    const std::size_t header_size = checkpoint_header_size + (version == 2 ? checkpoint_rule_size : 0);
    if (size < header_size + checkpoint_digest_size) return std::string(not_written_by_blockeig);
    if (std::string problem = decode_fields(header, version, size, fields); !problem.empty()) return problem;
    if (fits_run)
      if (std::string problem = fits_run(fields); !problem.empty()) return problem;
  } else if (size > largest_checkpoint_size()) {
    return version_problem();
  }
  std::array<std::uint8_t, 32> computed{}, stored{};
  if (const int error = digest_of_prefix(fd, size - checkpoint_digest_size, computed)) return cannot_read(error);
  if (const int error = read_at(fd, size - checkpoint_digest_size, stored.data(), stored.size()))
    return cannot_read(error);
  if (computed != stored) return "is damaged: its checksum does not match its content";
  fields.digest = stored;
  return known ? std::string() : version_problem();
}

std::string load_checkpoint(int fd, const CheckpointFields& fields, double* C, double* E, TextStore& output,
                            TextStore& results_state) {
  constexpr std::string_view changed = "has changed since the run began";
  struct stat info {};
  if (::fstat(fd, &info) != 0) return cannot_read(errno);
  if (static_cast<std::uint64_t>(info.st_size) != file_size(fields)) return std::string(changed);
  char expected[largest_header], header[largest_header];
  const std::size_t header_size = checkpoint_header_bytes(fields);
  encode_header(fields, expected);
  if (const int error = read_at(fd, 0, header, header_size)) return cannot_read(error);
  if (std::memcmp(header, expected, header_size) != 0) return std::string(changed);

  const std::size_t n = static_cast<std::size_t>(fields.N);
  Sha256 sha;
  sha.update(bytes_of(header, header_size));
  std::uint64_t offset = header_size;
  for (const auto& [into, bytes] : {std::pair<void*, std::size_t>{C, n * n * sizeof(double)}, {E, n * sizeof(double)}}) {
    if (const int error = read_at(fd, offset, into, bytes)) return cannot_read(error);
    sha.update(bytes_of(into, bytes));
    offset += bytes;
  }
  for (const auto& [store, bytes] : {std::pair<TextStore*, std::uint64_t>{&output, fields.output_bytes},
                                     {&results_state, fields.results_bytes}}) {
    const std::string problem = read_piecewise(fd, offset, bytes, [&, store = store](std::string_view piece) {
      sha.update(bytes_of(piece.data(), piece.size()));
      store->append(piece);
    });
    if (!problem.empty()) return problem;
    if (const int error = store->commit()) return std::string("cannot be taken up: ") + std::strerror(error);
    offset += bytes;
  }
  std::array<std::uint8_t, 32> stored{};
  if (const int error = read_at(fd, offset, stored.data(), stored.size())) return cannot_read(error);
  // The very bytes that were checked: a file replaced by another sound one
  // in between is caught too.
  if (stored != fields.digest || sha.finish() != stored) return std::string(changed);
  return {};
}

}  // namespace blockeig
