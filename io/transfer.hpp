#pragma once
// What every READ and WRITE statement does around its items: find the unit,
// make it the current unit, check its action, and at the end of a WRITE
// apply the truncation rule.
#include <cstdint>
#include <string_view>

#include "io/unit.hpp"

namespace blockeig::io {

// The connected unit for a transfer statement of this form, made the
// current unit. A unit connected for the other form raises 200.
Unit& begin_transfer(std::int64_t number, Form form);
// Raises 206 "Cannot write to file opened for READ" for a read-only unit.
// A FIFO not opened yet is opened for writing now; with no process reading
// it, the write is refused (nothing would receive the data).
void check_writable(Unit& unit);
// Raises 206 "Cannot read from file opened for WRITE" for a write-only unit.
// A FIFO not opened yet is opened for reading now, waiting for a writer as
// any reader of a FIFO does.
void check_readable(Unit& unit);
// Passes one formatted record and its line feed to the unit's stream. A
// refused write is reported at the statement, on its unit, whether the unit
// is a file or a standard stream: console lines that never arrive are output
// lost, as much as lines of a file.
void put_text_record(Unit& unit, std::string_view text);
// End of a WRITE statement: the first record written after the connection
// cuts the file at the current position. Clears the locus.
void end_write(Unit& unit);
// End of a READ statement: clears the locus.
void end_read();

}  // namespace blockeig::io
