#pragma once
// The program's input and output statements. Each call is one statement on
// one unit: it completes, or it raises the run-time error report and does
// not return. Every completed transfer statement clears the locus.
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "io/item.hpp"
#include "io/unit.hpp"

namespace blockeig::io {

// OPEN(unit, FILE=file [, FORM="unformatted"]) with the connection defaults:
// sequential, status unknown (a missing file is created empty, an existing
// one is not truncated), action read for an existing read-only file and
// readwrite otherwise, positioned at the first byte, recl 1,000,000,000.
void open(std::int64_t unit, std::string_view file, Form form = Form::formatted);
// CLOSE(unit): pending output reaches the file, the file stays. A refused
// flush is reported like a refused write. No effect on a unit not connected.
void close(std::int64_t unit);

// Unformatted READ of one record into one 32-bit integer.
void read_record(std::int64_t unit, std::int32_t& item);
// Unformatted READ of one record into a whole array, element by element.
void read_record(std::int64_t unit, std::span<double> items);
// Unformatted WRITE of one record holding these items in order (whole
// arrays as spans).
void write_record(std::int64_t unit, std::span<const std::int32_t> integers,
                  std::span<const double> reals);

// Formatted WRITE with a format string such as "(i12,F12.6)".
void write_formatted(std::int64_t unit, std::string_view format, std::initializer_list<Item> items);
// List-directed WRITE of one record.
void write_list(std::int64_t unit, std::initializer_list<Item> items);
// List-directed READ of one 32-bit integer; a null value leaves it unchanged.
void read_list(std::int64_t unit, std::int32_t& item);

// Refuses the value that the last READ on `unit` delivered: reports it like
// a failed read on that unit (code 208 with `message`, the locus as set by
// the caller). Never returns.
[[noreturn]] void reject_read(std::int64_t unit, std::string_view message);

}  // namespace blockeig::io
