#include "runtime/error_codes.hpp"

namespace blockeig::runtime {

namespace {

struct CodeMessage {
  int code;
  std::string_view message;
};

constexpr CodeMessage code_messages[] = {
    {end_of_record, "End of record"},
    {end_of_file, "End of file"},
    {successful_return, "Successful return"},
    {os_error, "Operating system error"},
    {conflicting_options, "Conflicting statement options"},
    {bad_option, "Bad statement option"},
    {missing_option, "Missing statement option"},
    {file_already_opened, "File already opened in another unit"},
    {unattached_unit, "Unattached unit"},
    {format_error, "FORMAT error"},
    {incorrect_action, "Incorrect ACTION specified"},
    {read_past_endfile, "Read past ENDFILE record"},
    {bad_value, "Bad value during read"},
    {numeric_overflow_on_read, "Numeric overflow on read"},
    {out_of_memory, "Out of memory"},
    {array_already_allocated, "Array already allocated"},
    {bad_deallocation, "Deallocated a bad pointer"},
    {bad_record_number, "Bad record number in direct-access file"},
    {corrupt_record, "Corrupt record in unformatted sequential-access file"},
    {read_past_recl, "Reading more data than the record size (RECL)"},
    {write_past_recl, "Writing more data than the record size (RECL)"},
};

}  // namespace

std::string_view error_message(int code) {
  for (const CodeMessage& entry : code_messages)
    if (entry.code == code) return entry.message;
  return "Unknown error code";
}

}  // namespace blockeig::runtime
