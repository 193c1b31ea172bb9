#pragma once
// Unformatted sequential records on a unit (their layout: record_format.hpp);
// markers and numbers are reversed when the unit reverses bytes.
#include <cstddef>
#include <cstdint>

#include "io/unit.hpp"

namespace blockeig::io {

// Start of an unformatted READ: reads the next record whole into the unit's
// record buffer and leaves the file at the record after it. Finding no
// record sets eof_seen (the statement fails later); a damaged record raises
// 214, a record longer than recl 215.
void read_next_record(Unit& unit);
// An unformatted READ of one record into `count` items of `size` bytes each
// (a whole array), the record's data read straight into the items rather
// than through the record buffer. Fails as read_next_record followed by
// unformatted_read_array would, with the same reports in the same order; the
// items hold whatever the file gave when a damaged record is found.
void read_record_into(Unit& unit, void* items, std::size_t size, std::size_t count);
// Takes one item of `size` bytes from the current record into `item`,
// reversed when the unit reverses bytes. Raises "End of file" when the
// statement found no record, 215 when the record holds too few bytes; the
// item keeps its value then.
void unformatted_read(Unit& unit, void* item, std::size_t size);
// Takes up to `count` items of `size` bytes each (a whole array) in one
// pass; stops with the same failure as unformatted_read at the first item
// that does not fit, after the items before it were filled.
void unformatted_read_array(Unit& unit, void* items, std::size_t size, std::size_t count);
// End of an unformatted READ statement that transferred `transferred` items.
void end_unformatted_read(Unit& unit, std::size_t transferred);

// Appends one item of `size` bytes to the record being written; 216 when
// the record would exceed recl.
void unformatted_write(Unit& unit, const void* item, std::size_t size);
// Writes the record built so far: marker, data, marker.
void write_record(Unit& unit);

// The next capacity of a record buffer that must hold `needed` bytes.
std::int64_t record_buffer_growth(std::int64_t capacity, std::int64_t needed, std::int64_t recl);

}  // namespace blockeig::io
