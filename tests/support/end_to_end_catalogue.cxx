// end_to_end_catalogue DIR: writes every end-to-end case
// (end_to_end_matrices.hpp) as DIR/NAME/A.SCR and DIR/NAME/blocks.txt, for
// the Python tests that hold the module to the program's bits.
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/child_process.hpp"
#include "support/end_to_end_matrices.hpp"
#include "support/scr_file.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: end_to_end_catalogue DIR\n");
    return 2;
  }
  namespace testing = blockeig::testing;
  for (const testing::EndToEndCase& c : testing::end_to_end_cases()) {
    const std::filesystem::path dir = std::filesystem::path(argv[1]) / c.name;
    std::filesystem::create_directories(dir);
    testing::write_file(dir / "A.SCR", testing::scr_file(c.n, c.matrix));
    testing::write_file(dir / "blocks.txt", std::to_string(c.nblocks) + "\n");
  }
  return 0;
}
