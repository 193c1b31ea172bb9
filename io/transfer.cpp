#include "io/transfer.hpp"

#include <fcntl.h>

#include <cerrno>

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

namespace {

// Opens a unit's FIFO for `direction` alone, which the unit keeps from then
// on. A reader waits for a writer; a writer that finds no reader is refused
// at once rather than waiting for ever.
void open_fifo(Unit& unit, Action direction) {
  const int flags = direction == Action::read ? O_RDONLY : O_WRONLY | O_NONBLOCK;
  int fd;
  do fd = ::open(unit.file_name.c_str(), flags | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == ENXIO) raise(os_error, "No process has the FIFO open for reading");
  if (fd < 0) raise_os_error(errno);
  if (direction == Action::write) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  unit.stream.attach(fd, /*owned=*/true, /*unbuffered=*/false);
  unit.action = direction;
  unit.fifo_unopened = false;
}

}  // namespace

void check_writable(Unit& unit) {
  if (unit.action == Action::read) raise(incorrect_action, "Cannot write to file opened for READ");
  if (unit.fifo_unopened) open_fifo(unit, Action::write);
}

void check_readable(Unit& unit) {
  if (unit.action == Action::write) raise(incorrect_action, "Cannot read from file opened for WRITE");
  if (unit.fifo_unopened) open_fifo(unit, Action::read);
}

void put_text_record(Unit& unit, std::string_view text) {
  if (unit.record_copy != nullptr) {
    unit.record_copy->copy(text);
    unit.record_copy->copy("\n");
  }
  int error;
  if (unit.stream.unbuffered()) {
    // One request per record, so that console lines are never split.
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text).push_back('\n');
    error = unit.stream.write(line);
  } else {
    error = unit.stream.write(text);
    if (error == 0) error = unit.stream.write("\n");
  }
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

}  // namespace blockeig::io
