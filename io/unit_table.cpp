#include "io/unit_table.hpp"

#include <unistd.h>

#include <map>

#include "runtime/report.hpp"

namespace blockeig::io {

namespace {

std::map<std::int64_t, std::unique_ptr<Unit>>& table() {
  static std::map<std::int64_t, std::unique_ptr<Unit>> units;
  return units;
}

}  // namespace

Unit* find_unit(std::int64_t number) {
  auto it = table().find(number);
  return it == table().end() ? nullptr : it->second.get();
}

Unit* unit_connected_to(std::string_view file_name) {
  if (file_name.empty()) return nullptr;
  for (auto& [number, unit] : table())
    if (unit->file_name == file_name) return unit.get();
  return nullptr;
}

Unit& insert_unit(std::unique_ptr<Unit> unit) {
  runtime::set_unit_closer(close_all_units);  // a report closes every unit
  Unit& entered = *unit;
  table()[unit->number] = std::move(unit);
  return entered;
}

std::unique_ptr<Unit> remove_unit(std::int64_t number) {
  auto it = table().find(number);
  if (it == table().end()) return nullptr;
  std::unique_ptr<Unit> unit = std::move(it->second);
  table().erase(it);
  return unit;
}

void close_all_units() {
  // Called from reports, possibly from a signal handler: flush and close
  // without freeing anything.
  for (auto& [number, unit] : table()) unit->stream.close();
}

std::unique_ptr<Unit> close_all_units_reporting(int* error) {
  *error = 0;
  while (!table().empty()) {
    auto it = table().begin();
    std::unique_ptr<Unit> unit = std::move(it->second);
    table().erase(it);
    if (const int refused = unit->stream.close(); refused != 0 && !unit->is_standard()) {
      *error = refused;
      return unit;
    }
  }
  return nullptr;
}

}  // namespace blockeig::io
