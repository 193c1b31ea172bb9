// The unformatted READ and WRITE statements.
#include "io/record_file.hpp"
#include "io/statements.hpp"
#include "io/transfer.hpp"

namespace blockeig::io {

void read_record(std::int64_t number, std::int32_t& item) {
  Unit& unit = begin_transfer(number, Form::unformatted);
  check_readable(unit);
  read_next_record(unit);
  unformatted_read(unit, &item, sizeof item);
  end_unformatted_read(unit, 1);
  end_read();
}

void read_record(std::int64_t number, std::span<double> items) {
  Unit& unit = begin_transfer(number, Form::unformatted);
  check_readable(unit);
  read_record_into(unit, items.data(), sizeof(double), items.size());
  end_unformatted_read(unit, items.size());
  end_read();
}

void write_record(std::int64_t number, std::span<const std::int32_t> integers, std::span<const double> reals) {
  Unit& unit = begin_transfer(number, Form::unformatted);
  check_writable(unit);
  unit.record_position = 0;
  for (const std::int32_t value : integers) unformatted_write(unit, &value, sizeof value);
  for (const double value : reals) unformatted_write(unit, &value, sizeof value);
  write_record(unit);
  end_write(unit);
}

}  // namespace blockeig::io
