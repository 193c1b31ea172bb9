// print_eigenvalues FILE: every eigenvalue of the matrix in FILE (an A.SCR)
// as blockeig's direct solve gives it, one a line, as the shortest decimal
// that reads back to the same double.
#include <blockeig/blockeig.hpp>

#include <charconv>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: print_eigenvalues FILE\n");
    return 2;
  }
  try {
    const blockeig::Matrix matrix = blockeig::read_scr(argv[1]);
    const blockeig::DirectSolution solution = blockeig::eigenvalues(matrix.ref());
    for (const double value : solution.values) {
      char digits[32];
      char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
      *end++ = '\n';
      std::fwrite(digits, 1, static_cast<std::size_t>(end - digits), stdout);
    }
    if (solution.IERR != 0)
      std::fprintf(stderr, "print_eigenvalues: the QL iteration gave up at position %d; the values are unsorted\n",
                   static_cast<int>(solution.IERR));
  } catch (const blockeig::Error& e) {
    std::fprintf(stderr, "print_eigenvalues: %s\n", e.what());
    return 1;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
