#pragma once
// The program's input and output statements. Each call is one statement on
// one unit: it completes, or it raises the run-time error report and does
// not return. Every completed transfer statement clears the locus.
//
// The layers below, each using only the ones under it:
//
//   statements      open, close, read_record, write_formatted, ... (this file;
//                   connection.cpp, text_statements.cpp, unformatted_statements.cpp)
//   transfer        the current unit, action checks, record ends and the
//                   truncation rule (transfer.hpp)
//   records         unformatted framing (record_file.hpp), and
//   format control  formats, field editing, list-directed text (format*.hpp,
//                   edit_*.hpp, list_*.hpp, decimal_digits.hpp)
//   file stream     buffered platform files and standard streams
//                   (file_stream.hpp), in the unit table (unit.hpp,
//                   unit_table.hpp)
//
// Two headers of plain definitions serve every layer: record_format.hpp
// (the record format and its limits, which scrtool shares) and item.hpp
// (the items of a transfer list).
//
// Reports, the locus, ALLOCATE and settings come from runtime/.
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "io/item.hpp"
#include "io/unit.hpp"

namespace blockeig::io {

// Start-up: connects units 5, 6 and 0 to standard input, output and error.
void connect_standard_units();
// The normal end: closes every unit (a refused flush of a file's remaining
// output is reported like a refused write) and exits with status 0, or 2
// when a failure that did not end the run was warned about.
[[noreturn]] void close_down();

// OPEN(unit, FILE=file [, FORM="unformatted"]) with the connection defaults:
// sequential, status unknown (a missing file is created empty, an existing
// one is not truncated), action read for an existing read-only file and
// readwrite otherwise, positioned at the first byte, recl max_record_length.
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
// Writes `lines`, text records with their line feeds as this program wrote
// them before, to `unit` as they stand: a resumed run replays the console
// lines of the run it continues.
void write_lines(std::int64_t unit, std::string_view lines);
// From now on every text record written to `unit` is also handed, with its
// line feed, to `*copy` (which must outlive the connection or the next
// call); null ends the copying. No effect on a unit not connected.
void copy_records(std::int64_t unit, RecordCopy* copy);
// List-directed READ of one 32-bit integer; a null value leaves it unchanged.
void read_list(std::int64_t unit, std::int32_t& item);

// Writes `text` as it stands to standard output: the texts of the options
// that answer instead of a run, which are no statements of the program.
// Needs no connected unit. A refusal is reported (no locus, the platform's
// text); a closed pipe is not.
void write_standard_output(std::string_view text);
// Writes `text` as it stands to standard error: the command line's mistakes
// and warnings, before any unit is connected. A refusal has nowhere to be
// reported and is not.
void write_standard_error(std::string_view text);

// Refuses the value that the last READ on `unit` delivered: reports it like
// a failed read on that unit (code 208 with `message`, the locus as set by
// the caller). Never returns.
[[noreturn]] void reject_read(std::int64_t unit, std::string_view message);

}  // namespace blockeig::io
