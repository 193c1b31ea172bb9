#pragma once
// The process-wide table of connected units, keyed by unit number.
#include <cstdint>
#include <memory>
#include <string_view>

#include "io/unit.hpp"

namespace blockeig::io {

inline constexpr std::int64_t stdin_unit = 5;
inline constexpr std::int64_t stdout_unit = 6;
inline constexpr std::int64_t stderr_unit = 0;

// The connected unit with this number, or null.
Unit* find_unit(std::int64_t number);
// The file unit connected under this file name, or null (standard units
// have no name and are never found).
Unit* unit_connected_to(std::string_view file_name);
// Enters a new connection; the number must not be connected.
Unit& insert_unit(std::unique_ptr<Unit> unit);
// Takes a unit out of the table (its connection already closed).
std::unique_ptr<Unit> remove_unit(std::int64_t number);
// Closes every connected unit, passing pending output on; refusals are
// ignored. Used by the error reports.
void close_all_units();
// Closes every connected unit at the normal end; returns the first unit
// whose pending output was refused (with *error set), or null. That unit is
// left out of the table's ownership until the caller reports it.
std::unique_ptr<Unit> close_all_units_reporting(int* error);

}  // namespace blockeig::io
