// Plain text tables: read_text_matrix either returns a matrix, which must
// come back with the same bits through A.SCR and every export format, or
// refuses with one printable line naming the file, without making room for
// rows the file does not hold.
//
// Input: the file.
#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>

#include "scrtool_checks.hpp"
#include "tools/text_matrix.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    blockeig::fuzz::check_round_trip(scrtool::read_text_matrix(text, "f.txt"));
  } catch (const scrtool::ToolError& e) {
    blockeig::fuzz::check_refusal(e, "f.txt");
  } catch (const std::bad_alloc&) {
    blockeig::fuzz::scrtool_finding("memory out of proportion to the file", text);
  }
  return 0;
}
