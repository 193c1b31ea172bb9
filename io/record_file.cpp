#include "io/record_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "runtime/error_codes.hpp"
#include "runtime/report.hpp"

namespace blockeig::io {

using namespace runtime::error_codes;
using runtime::allocation_failure;
using runtime::raise;
using runtime::raise_os_error;

namespace {

constexpr std::size_t marker_size = 4;

void reverse_bytes(char* bytes, std::size_t size) {
  for (std::size_t i = 0, j = size - 1; i < j; ++i, --j) std::swap(bytes[i], bytes[j]);
}

std::int32_t decode_marker(const char* bytes, bool swap) {
  char copy[marker_size];
  std::memcpy(copy, bytes, marker_size);
  if (swap) reverse_bytes(copy, marker_size);
  std::int32_t value;
  std::memcpy(&value, copy, marker_size);
  return value;
}

void encode_marker(char* bytes, std::int32_t value, bool swap) {
  std::memcpy(bytes, &value, marker_size);
  if (swap) reverse_bytes(bytes, marker_size);
}

// Makes the record buffer hold at least `needed` bytes, keeping its content.
// The buffer carries 4 bytes beyond its capacity so that a record's data and
// trailing marker arrive in one request.
void reserve_record(Unit& unit, std::int64_t needed) {
  if (needed <= unit.record_capacity && unit.record_buffer) return;
  const std::int64_t capacity = record_buffer_growth(unit.record_capacity, needed, unit.recl);
  std::unique_ptr<char[]> grown(new (std::nothrow) char[static_cast<std::size_t>(capacity) + marker_size]);
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

// The bytes a regular file still holds from its current position; -1 for a
// stream whose size is not known (a FIFO, a device).
std::int64_t bytes_left(const Unit& unit) {
  struct stat info;
  if (::fstat(unit.stream.fd(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  const off_t here = ::lseek(unit.stream.fd(), 0, SEEK_CUR);
  return here < 0 ? -1 : info.st_size - here;
}

[[noreturn]] void raise_short_record(Unit& unit) {
  if (unit.eof_seen && unit.record_length == 0) {
    unit.end_state = EndState::past_end;
    raise(end_of_file);
  }
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

void read_next_record(Unit& unit) {
  unit.record_length = 0;
  unit.record_position = 0;
  if (unit.eof_seen) {
    unit.end_state = EndState::at_end;
    raise(end_of_file);
  }
  char marker[marker_size];
  const std::int64_t got = read_or_raise(unit, marker, marker_size);
  if (got == 0) {
    unit.eof_seen = true;
    return;
  }
  if (got < static_cast<std::int64_t>(marker_size)) raise(corrupt_record);
  const std::int32_t length = decode_marker(marker, unit.swap_bytes);
  // A negative length cannot come from a record writer: the record is damaged.
  if (length < 0) raise(corrupt_record);
  if (length > unit.recl) raise(read_past_recl);
  // Data and trailing marker in one request; the trailing marker is consumed
  // but not compared. A marker that promises more than the file still holds
  // is a damaged record, known before any memory is asked for its buffer.
  // A stream of unknown size is read into a buffer that grows as the data
  // arrives, so that a marker that promises more than comes costs no more
  // memory than what came.
  const std::int64_t wanted = std::int64_t{length} + static_cast<std::int64_t>(marker_size);
  const std::int64_t left = bytes_left(unit);
  if (left >= 0 && left < wanted) raise(corrupt_record);
  std::int64_t have = 0;
  while (have < wanted) {
    reserve_record(unit, left >= 0 ? length
                                   : std::min<std::int64_t>(length, record_buffer_growth(unit.record_capacity, have + 1,
                                                                                         unit.recl)));
    // The buffer keeps its content when it grows only up to its capacity.
    const std::int64_t fits = unit.record_capacity + static_cast<std::int64_t>(marker_size);
    const std::int64_t room = (wanted <= fits ? wanted : unit.record_capacity) - have;
    const std::int64_t arrived = read_or_raise(unit, unit.record_buffer.get() + have, room);
    have += arrived;
    if (arrived < room) raise(corrupt_record);
  }
  unit.record_length = length;
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
  if (unit.eof_seen && transferred == 0) {
    unit.end_state = EndState::past_end;
    raise(end_of_file);
  }
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
  encode_marker(marker, length, unit.swap_bytes);
  const std::string_view marker_bytes(marker, marker_size);
  int error = unit.stream.write(marker_bytes);
  if (error == 0 && length > 0) error = unit.stream.write(std::string_view(unit.record_buffer.get(), static_cast<std::size_t>(length)));
  if (error == 0) error = unit.stream.write(marker_bytes);
  if (error != 0) raise_os_error(error);
  unit.record_length = 0;
  unit.record_position = 0;
}

}  // namespace blockeig::io
