// OPEN and CLOSE: connecting unit numbers to files and standard streams.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "io/statements.hpp"
#include "io/unit_table.hpp"
#include "runtime/error_codes.hpp"
#include "runtime/locus.hpp"
#include "runtime/report.hpp"
#include "runtime/settings.hpp"

namespace blockeig::io {

using namespace runtime::error_codes;
using runtime::clear_current_unit;
using runtime::clear_locus;
using runtime::raise;
using runtime::raise_open_failure;
using runtime::raise_os_error;
using runtime::set_current_unit;

namespace {

// A name this long fails as a file that cannot be found.
constexpr std::size_t max_file_name = 259;

std::string_view without_trailing_blanks(std::string_view name) {
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  return name;
}

// A file counts as read-only when nobody may write it, whoever we are (the
// superuser may write anything, but a file without write bits is still
// meant to be read-only), or when we may not write it.
bool is_read_only(const std::string& name, const struct stat& info) {
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  return ::access(name.c_str(), W_OK) != 0;
}

int open_file(const std::string& name, Action action) {
  const int flags = action == Action::read ? O_RDONLY : O_RDWR | O_CREAT;
  int fd;
  do fd = ::open(name.c_str(), flags | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) raise_open_failure(errno, name);
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    raise_open_failure(EISDIR, name);
  }
  return fd;
}

void connect_standard(std::int64_t number, int fd, bool end_pending) {
  auto unit = std::make_unique<Unit>();
  unit->number = number;
  unit->stream.attach(fd, /*owned=*/false, /*unbuffered=*/true);
  unit->action = Action::readwrite;
  unit->form = Form::formatted;
  unit->end_pending = end_pending;
  insert_unit(std::move(unit));
}

// Ends a connection: pending output reaches the file, which is closed (a
// standard stream only flushed), and the unit leaves the table. A refused
// flush would leave the file cut short: it is reported like a refused write,
// naming the unit and its file. The locus is left to the statement.
void disconnect(std::int64_t number) {
  clear_current_unit();  // it may be the unit about to go
  std::unique_ptr<Unit> unit = remove_unit(number);
  if (unit == nullptr) return;
  if (const int error = unit->stream.close(); error != 0 && !unit->is_standard()) {
    const Unit* kept = unit.release();  // kept alive for the report, which ends the run
    set_current_unit(kept->number, kept->file_name);
    raise_os_error(error);
  }
}

}  // namespace

void connect_standard_units() {
  connect_standard(stdin_unit, STDIN_FILENO, /*end_pending=*/true);
  connect_standard(stdout_unit, STDOUT_FILENO, /*end_pending=*/false);
  connect_standard(stderr_unit, STDERR_FILENO, /*end_pending=*/false);
}

void open(std::int64_t number, std::string_view file, Form form) {
  clear_current_unit();
  if (number < -1) raise(unattached_unit);
  const std::string name(without_trailing_blanks(file));
  if (Unit* connected = find_unit(number)) {
    if (connected->file_name == name) {
      clear_locus();
      return;
    }
    disconnect(number);  // part of this OPEN: its locus stays
  }
  if (unit_connected_to(name) != nullptr) raise(file_already_opened);
  if (name.size() > max_file_name) raise_open_failure(ENOENT, name);

  struct stat info;
  const bool exists = ::stat(name.c_str(), &info) == 0;
  auto unit = std::make_unique<Unit>();
  unit->number = number;
  unit->file_name = name;
  unit->action = exists && is_read_only(name, info) ? Action::read : Action::readwrite;
  unit->form = form;
  unit->swap_bytes = form == Form::unformatted && runtime::swap_unformatted_bytes();
  unit->fifo_unopened = exists && S_ISFIFO(info.st_mode);
  const int fd = unit->fifo_unopened ? -1 : open_file(name, unit->action);
  unit->stream.attach(fd, /*owned=*/true, /*unbuffered=*/false);
  insert_unit(std::move(unit));
  clear_locus();
}

void close(std::int64_t number) {
  disconnect(number);
  clear_locus();
}

[[noreturn]] void close_down() {
  int error = 0;
  if (std::unique_ptr<Unit> refused = close_all_units_reporting(&error)) {
    const Unit* kept = refused.release();  // kept alive for the report, which ends the run
    set_current_unit(kept->number, kept->file_name);
    raise_os_error(error);
  }
  std::exit(runtime::normal_end_status());
}

}  // namespace blockeig::io
