#include "io/locus.hpp"

namespace blockeig::io {

namespace {

std::string_view main_source_file;
int statement_line = 0;
const Unit* statement_unit = nullptr;

}  // namespace

void set_source_file(std::string_view name) { main_source_file = name; }
std::string_view source_file() { return main_source_file; }

void at(int line) { statement_line = line; }
void clear_locus() {
  statement_line = 0;
  statement_unit = nullptr;
}
int locus_line() { return statement_line; }

void set_current_unit(const Unit* unit) { statement_unit = unit; }
const Unit* current_unit() { return statement_unit; }

}  // namespace blockeig::io
