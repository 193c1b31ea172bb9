#include "io/record_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "io/record_format.hpp"
#include "runtime/allocate.hpp"
#include "runtime/error_codes.hpp"
#include "runtime/posix_file.hpp"
#include "runtime/report.hpp"

namespace blockeig::io {

using namespace runtime::error_codes;
using runtime::allocation_failure;
using runtime::raise;
using runtime::raise_os_error;

namespace {

// Makes the record buffer hold at least `needed` bytes, keeping its content.
// The buffer carries 4 bytes beyond its capacity so that a record's data and
// trailing marker arrive in one request.
void reserve_record(Unit& unit, std::int64_t needed) {
  if (needed <= unit.record_capacity && unit.record_buffer) return;
  const std::int64_t capacity = record_buffer_growth(unit.record_capacity, needed, unit.recl);
  std::unique_ptr<char[]> grown(runtime::obtain_or_retry(
      [capacity] { return new (std::nothrow) char[static_cast<std::size_t>(capacity) + marker_size]; }));
  if (!grown) allocation_failure(ENOMEM);
  if (unit.record_buffer) std::memcpy(grown.get(), unit.record_buffer.get(), static_cast<std::size_t>(unit.record_capacity));
  unit.record_buffer = std::move(grown);
  unit.record_capacity = capacity;
}

std::int64_t read_or_raise(Unit& unit, char* into, std::int64_t count) {
  const std::int64_t got = unit.stream.read(into, count);
  if (got < 0) raise_os_error(errno);
  return got;
}

std::int64_t bytes_left(const Unit& unit) { return runtime::bytes_left(unit.stream.fd()); }

// The program's report of a record that is not complete: code 215 for a
// length above the limit, 214 for every other damage.
[[noreturn]] void raise_damaged(Framing framing) {
  raise(framing == Framing::over_limit ? read_past_recl : corrupt_record);
}

[[noreturn]] void raise_short_record(Unit& unit) {
  if (unit.eof_seen && unit.record_length == 0) raise(end_of_file);
  raise(read_past_recl);
}

}  // namespace

std::int64_t record_buffer_growth(std::int64_t capacity, std::int64_t needed, std::int64_t recl) {
  std::int64_t step;
  if (capacity == 0)
    step = 2000;
  else if (capacity <= recl / 2)
    step = 2 * capacity;
  else
    step = recl;
  return needed > step ? needed : step;
}

namespace {

// The start of an unformatted READ up to the record's data: the leading
// marker and its checks. Returns the data length, or -1 when the file holds
// no further record (eof_seen is then set and the statement fails later).
std::int64_t begin_record(Unit& unit) {
  unit.record_length = 0;
  unit.record_position = 0;
  if (unit.eof_seen) raise(end_of_file);
  unsigned char marker[marker_size];
  const std::int64_t got = read_or_raise(unit, reinterpret_cast<char*>(marker), marker_size);
  // A marker that promises more than the file still holds is a damaged
  // record, known before any memory is asked for its data.
  const RecordFraming framing =
      frame_record(std::span(marker, static_cast<std::size_t>(got)), unit.swap_bytes, bytes_left(unit), unit.recl);
  if (framing.framing == Framing::end_of_file) {
    unit.eof_seen = true;
    return -1;
  }
  if (framing.framing != Framing::complete) raise_damaged(framing.framing);
  return framing.length;
}

// Consumes `count` bytes of the current record (data the statement does not
// take, and the trailing marker, which is not compared); a file that ends
// first holds a damaged record.
void skip_record_bytes(Unit& unit, std::int64_t count) {
  char scratch[4096];
  while (count > 0) {
    const std::int64_t piece = count < std::int64_t{sizeof scratch} ? count : std::int64_t{sizeof scratch};
    if (read_or_raise(unit, scratch, piece) < piece) raise_damaged(Framing::truncated);
    count -= piece;
  }
}

}  // namespace

void read_next_record(Unit& unit) {
  const std::int64_t length = begin_record(unit);
  if (length < 0) return;
  // Data and trailing marker in one request; the trailing marker is consumed
  // but not compared. A stream of unknown size is read into a buffer that
  // grows as the data arrives, so that a marker that promises more than
  // comes costs no more memory than what came.
  const std::int64_t wanted = length + static_cast<std::int64_t>(marker_size);
  const bool size_known = bytes_left(unit) >= 0;
  std::int64_t have = 0;
  while (have < wanted) {
    reserve_record(unit, size_known ? length
                                    : std::min<std::int64_t>(length, record_buffer_growth(unit.record_capacity, have + 1,
                                                                                          unit.recl)));
    // The buffer keeps its content when it grows only up to its capacity.
    const std::int64_t fits = unit.record_capacity + static_cast<std::int64_t>(marker_size);
    const std::int64_t room = (wanted <= fits ? wanted : unit.record_capacity) - have;
    const std::int64_t arrived = read_or_raise(unit, unit.record_buffer.get() + have, room);
    have += arrived;
    if (arrived < room) raise_damaged(Framing::truncated);
  }
  unit.record_length = length;
}

void read_record_into(Unit& unit, void* items, std::size_t size, std::size_t count) {
  const std::int64_t length = begin_record(unit);
  if (length < 0) return unformatted_read_array(unit, items, size, count);
  const std::uint64_t fitting = static_cast<std::uint64_t>(length) / size;
  const std::size_t taken = fitting < count ? static_cast<std::size_t>(fitting) : count;
  const auto bytes = static_cast<std::int64_t>(taken * size);
  char* into = static_cast<char*>(items);
  if (read_or_raise(unit, into, bytes) < bytes) raise_damaged(Framing::truncated);
  skip_record_bytes(unit, length - bytes + static_cast<std::int64_t>(marker_size));
  unit.record_length = length;
  unit.record_position = bytes;
  if (unit.swap_bytes)
    for (std::size_t i = 0; i < taken; ++i) reverse_bytes(into + i * size, size);
  if (taken < count) raise_short_record(unit);
}

void unformatted_read(Unit& unit, void* item, std::size_t size) {
  unformatted_read_array(unit, item, size, 1);
}

void unformatted_read_array(Unit& unit, void* items, std::size_t size, std::size_t count) {
  if (count == 0) return;
  const auto remaining = static_cast<std::uint64_t>(unit.record_length - unit.record_position);
  const std::uint64_t fitting = remaining / size;
  const std::size_t taken = fitting < count ? static_cast<std::size_t>(fitting) : count;
  char* into = static_cast<char*>(items);
  if (taken > 0) std::memcpy(into, unit.record_buffer.get() + unit.record_position, taken * size);
  unit.record_position += static_cast<std::int64_t>(taken * size);
  if (unit.swap_bytes)
    for (std::size_t i = 0; i < taken; ++i) reverse_bytes(into + i * size, size);
  if (taken < count) raise_short_record(unit);
}

void end_unformatted_read(Unit& unit, std::size_t transferred) {
  if (unit.eof_seen && transferred == 0) raise(end_of_file);
}

void unformatted_write(Unit& unit, const void* item, std::size_t size) {
  if (static_cast<std::int64_t>(size) > unit.recl - unit.record_position) raise(write_past_recl);
  reserve_record(unit, unit.record_position + static_cast<std::int64_t>(size));
  char* at = unit.record_buffer.get() + unit.record_position;
  std::memcpy(at, item, size);
  if (unit.swap_bytes) reverse_bytes(at, size);
  unit.record_position += static_cast<std::int64_t>(size);
}

void write_record(Unit& unit) {
  const auto length = static_cast<std::int32_t>(unit.record_position);
  char marker[marker_size];
  store_item(length, unit.swap_bytes, marker);
  const std::string_view marker_bytes(marker, marker_size);
  int error = unit.stream.write(marker_bytes);
  if (error == 0 && length > 0) error = unit.stream.write(std::string_view(unit.record_buffer.get(), static_cast<std::size_t>(length)));
  if (error == 0) error = unit.stream.write(marker_bytes);
  if (error != 0) raise_os_error(error);
  unit.record_length = 0;
  unit.record_position = 0;
}

}  // namespace blockeig::io
