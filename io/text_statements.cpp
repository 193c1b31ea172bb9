// The formatted and list-directed statements: the text comes from the
// editing routines, the record ends and the failures from the unit.
#include <unistd.h>

#include <string>

#include "io/format.hpp"
#include "io/format_control.hpp"
#include "io/list_read.hpp"
#include "io/list_write.hpp"
#include "io/statements.hpp"
#include "io/transfer.hpp"
#include "io/unit_table.hpp"
#include "runtime/error_codes.hpp"
#include "runtime/locus.hpp"
#include "runtime/report.hpp"

namespace blockeig::io {

using namespace runtime::error_codes;
using runtime::raise;
using runtime::raise_os_error;

namespace {

class UnitSink final : public RecordSink {
 public:
  explicit UnitSink(Unit& unit) : unit_(unit) {}
  void record(std::string_view text) override { put_text_record(unit_, text); }

 private:
  Unit& unit_;
};

// The bytes of a unit's input; reaching its end marks the unit. Text after
// an item on its line is ignored: the next READ skips it first, so that a
// READ itself stops at the byte that settles its item, however long the
// line goes on.
class UnitBytes final : public ByteSource {
 public:
  explicit UnitBytes(Unit& unit) : unit_(unit) {}
  int next_byte() override {
    int error = 0;
    const int c = unit_.stream.read_byte(&error);
    if (error != 0) raise_os_error(error);
    if (c == end) unit_.eof_seen = true;
    unit_.input_mid_line = c != '\n' && c != end;
    return c;
  }
  // Skips what the last READ left of its line, through the line feed.
  void skip_rest_of_line() {
    while (unit_.input_mid_line) next_byte();
  }

 private:
  Unit& unit_;
};

}  // namespace

void write_formatted(std::int64_t number, std::string_view format, std::initializer_list<Item> items) {
  Unit& unit = begin_transfer(number, Form::formatted);
  check_writable(unit);
  const FormatParse parsed = parse_format(format);
  if (!parsed.ok()) raise(format_error, parsed.error);
  std::string record;
  UnitSink sink(unit);
  const FormatControlResult result =
      write_formatted_records(parsed.format, std::span<const Item>(items.begin(), items.size()), record, sink);
  if (!result.ok()) raise(format_error, result.error);
  end_write(unit);
}

void write_list(std::int64_t number, std::initializer_list<Item> items) {
  Unit& unit = begin_transfer(number, Form::formatted);
  check_writable(unit);
  std::string record;
  const ListWriteResult result = build_list_record(std::span<const Item>(items.begin(), items.size()), record);
  if (!result.ok()) raise(format_error, result.error);
  put_text_record(unit, record);
  end_write(unit);
}

void write_lines(std::int64_t number, std::string_view lines) {
  Unit& unit = begin_transfer(number, Form::formatted);
  check_writable(unit);
  if (unit.record_copy != nullptr) unit.record_copy->copy(lines);
  if (const int error = unit.stream.write(lines)) raise_os_error(error);
  end_write(unit);
}

void copy_records(std::int64_t number, RecordCopy* copy) {
  if (Unit* unit = find_unit(number)) unit->record_copy = copy;
}

void read_list(std::int64_t number, std::int32_t& item) {
  Unit& unit = begin_transfer(number, Form::formatted);
  check_readable(unit);
  UnitBytes bytes(unit);
  bytes.skip_rest_of_line();
  const ListReadResult result = read_list_integer(bytes, 1);
  switch (result.status) {
    case ListReadResult::Status::value:
      item = result.value;
      break;
    case ListReadResult::Status::null:
      break;
    case ListReadResult::Status::end_of_file:
      raise(end_of_file);
    case ListReadResult::Status::error:
      raise(bad_value, result.message);
  }
  end_read();
}

[[noreturn]] void reject_read(std::int64_t unit, std::string_view message) {
  if (const Unit* rejecting = find_unit(unit)) runtime::set_current_unit(rejecting->number, rejecting->file_name);
  raise(bad_value, message);
}

void write_standard_output(std::string_view text) {
  FileStream out;
  out.attach(STDOUT_FILENO, /*owned=*/false, /*unbuffered=*/true);
  if (const int error = out.write(text)) raise_os_error(error);
}

void write_standard_error(std::string_view text) {
  FileStream err;
  err.attach(STDERR_FILENO, /*owned=*/false, /*unbuffered=*/true);
  err.write(text);
}

}  // namespace blockeig::io
