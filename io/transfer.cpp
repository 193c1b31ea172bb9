#include "io/transfer.hpp"

#include "io/statements.hpp"
#include "io/unit_table.hpp"
#include "runtime/error_codes.hpp"
#include "runtime/locus.hpp"
#include "runtime/report.hpp"

namespace blockeig::io {

using namespace runtime::error_codes;
using runtime::clear_current_unit;
using runtime::clear_locus;
using runtime::raise;
using runtime::raise_os_error;
using runtime::set_current_unit;

Unit& begin_transfer(std::int64_t number, Form form) {
  Unit* unit = find_unit(number);
  if (unit == nullptr) {
    clear_current_unit();
    raise(unattached_unit);
  }
  set_current_unit(unit->number, unit->file_name);
  if (unit->form != form)
    raise(conflicting_options, form == Form::formatted ? "Formatted data transfer on an unformatted unit"
                                                       : "Unformatted data transfer on a formatted unit");
  return *unit;
}

void check_writable(const Unit& unit) {
  if (unit.action == Action::read) raise(incorrect_action, "Cannot write to file opened for READ");
}

void check_readable(const Unit& unit) {
  if (unit.action == Action::write) raise(incorrect_action, "Cannot read from file opened for WRITE");
}

void put_text_record(Unit& unit, std::string_view text) {
  if (unit.record_copy != nullptr) unit.record_copy->append(text).push_back('\n');
  if (unit.stream.unbuffered()) {
    // One request per record, so that console lines are never split.
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text).push_back('\n');
    unit.stream.write(line);
    return;
  }
  int error = unit.stream.write(text);
  if (error == 0) error = unit.stream.write("\n");
  if (error != 0) raise_os_error(error);
}

void end_write(Unit& unit) {
  if (unit.end_pending) {
    if (const int error = unit.stream.truncate_here()) raise_os_error(error);
    unit.end_pending = false;
  }
  clear_locus();
}

void end_read() { clear_locus(); }

[[noreturn]] void reject_read(std::int64_t unit, std::string_view message) {
  if (const Unit* rejecting = find_unit(unit)) set_current_unit(rejecting->number, rejecting->file_name);
  raise(bad_value, message);
}

}  // namespace blockeig::io
