#pragma once
// The statement locus: the main source file's name and the number of the
// statement in progress, shown in the first line of every run-time report.
// The driver sets the number before each statement that can fail; every
// input or output statement clears it when it completes.
#include <cstdint>
#include <string_view>

namespace blockeig::runtime {

// Names the program's main source file; set once at start-up.
void set_source_file(std::string_view name);
std::string_view source_file();

// Sets the locus to statement `line` of the main source file.
void at(int line);
// Clears the locus and the current unit (an input or output statement
// completed).
void clear_locus();
// The locus line number; 0 when no locus is set.
int locus_line();

// The unit of the READ or WRITE statement in progress, as a report names
// it: its number and its file name (empty for a standard unit). The name
// must stay alive while it is current. None between statements and during
// OPEN, CLOSE, ALLOCATE and DEALLOCATE.
struct CurrentUnit {
  std::int64_t number = 0;
  std::string_view file_name;
};
void set_current_unit(std::int64_t number, std::string_view file_name);
void clear_current_unit();
// The current unit, or null.
const CurrentUnit* current_unit();

}  // namespace blockeig::runtime
