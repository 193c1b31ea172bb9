// Matrix Market files: read_matrix_market either returns a matrix, which
// must come back with the same bits through A.SCR and every export format,
// or refuses with one printable line naming the file. Only a coordinate
// file, which may announce a large order with few entries, may need more
// memory than the allocation cap; any other input that does is a finding.
//
// Input: the file.
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>

#include "scrtool_checks.hpp"
#include "tools/matrix_market.hpp"

namespace {

bool announces_coordinates(std::string_view text) {
  std::string first(text.substr(0, text.find('\n')));
  for (char& c : first)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return first.find("coordinate") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    blockeig::fuzz::check_round_trip(scrtool::read_matrix_market(text, "f.mtx"));
  } catch (const scrtool::ToolError& e) {
    blockeig::fuzz::check_refusal(e, "f.mtx");
  } catch (const std::bad_alloc&) {
    if (!announces_coordinates(text)) blockeig::fuzz::scrtool_finding("memory out of proportion to the file", text);
  }
  return 0;
}
