#pragma once
// The statement locus: the main source file's name and the number of the
// statement in progress, shown in the first line of every run-time report.
// The driver sets the number before each statement that can fail; every
// input or output statement clears it when it completes.
#include <string_view>

namespace blockeig::io {

struct Unit;

// Names the program's main source file; set once at start-up.
void set_source_file(std::string_view name);
std::string_view source_file();

// Sets the locus to statement `line` of the main source file.
void at(int line);
// Clears the locus (an input or output statement completed).
void clear_locus();
// The locus line number; 0 when no locus is set.
int locus_line();

// The unit of the READ or WRITE statement in progress; null between
// statements and during OPEN, CLOSE, ALLOCATE and DEALLOCATE.
void set_current_unit(const Unit* unit);
const Unit* current_unit();

}  // namespace blockeig::io
