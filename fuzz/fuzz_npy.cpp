// NumPy .npy files: read_npy either returns a matrix, which must come back
// with the same bits through A.SCR and every export format, or refuses with
// one printable line naming the file, without making room for data the file
// does not hold.
//
// Input: the file.
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <string_view>

#include "scrtool_checks.hpp"
#include "tools/npy_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    blockeig::fuzz::check_round_trip(scrtool::read_npy(std::span(data, size), "f.npy"));
  } catch (const scrtool::ToolError& e) {
    blockeig::fuzz::check_refusal(e, "f.npy");
  } catch (const std::bad_alloc&) {
    blockeig::fuzz::scrtool_finding("memory out of proportion to the file",
                                    std::string_view(reinterpret_cast<const char*>(data), size));
  }
  return 0;
}
