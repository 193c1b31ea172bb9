#include "runtime/locus.hpp"

namespace blockeig::runtime {

namespace {

std::string_view main_source_file;
int statement_line = 0;
CurrentUnit statement_unit;
bool has_statement_unit = false;

}  // namespace

void set_source_file(std::string_view name) { main_source_file = name; }
std::string_view source_file() { return main_source_file; }

void at(int line) { statement_line = line; }
void clear_locus() {
  statement_line = 0;
  clear_current_unit();
}
int locus_line() { return statement_line; }

void set_current_unit(std::int64_t number, std::string_view file_name) {
  statement_unit = {number, file_name};
  has_statement_unit = true;
}
void clear_current_unit() { has_statement_unit = false; }
const CurrentUnit* current_unit() { return has_statement_unit ? &statement_unit : nullptr; }

}  // namespace blockeig::runtime
