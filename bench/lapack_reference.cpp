// The eigenvalues of a symmetric matrix by the reference LAPACK's dsyev
// (eigenvalues only, lower triangle), linked statically with the reference
// BLAS: the judge of the peer library's results in solver_bench.
//
//   lapack_reference IN OUT
//
// IN holds the order n (4-byte integer) and the n x n matrix (doubles,
// column by column); OUT receives the n eigenvalues, ascending, as doubles.
// Exit status 0, or 1 with a message on standard error.
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w,
                       double* work, const int* lwork, int* info, std::size_t jobz_length, std::size_t uplo_length);

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: lapack_reference IN OUT\n");
    return 1;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  std::int32_t n = 0;
  if (in == nullptr || std::fread(&n, sizeof n, 1, in) != 1 || n < 1) {
    std::fprintf(stderr, "lapack_reference: cannot read the order from %s\n", argv[1]);
    return 1;
  }
  std::vector<double> a(static_cast<std::size_t>(n) * static_cast<std::size_t>(n)), w(static_cast<std::size_t>(n));
  if (std::fread(a.data(), sizeof(double), a.size(), in) != a.size()) {
    std::fprintf(stderr, "lapack_reference: %s holds fewer than n * n doubles\n", argv[1]);
    return 1;
  }
  std::fclose(in);
  int info = 0, query = -1;
  double size = 0;
  dsyev_("N", "L", &n, a.data(), &n, w.data(), &size, &query, &info, 1, 1);
  int lwork = static_cast<int>(size);
  std::vector<double> work(static_cast<std::size_t>(lwork));
  dsyev_("N", "L", &n, a.data(), &n, w.data(), work.data(), &lwork, &info, 1, 1);
  if (info != 0) {
    std::fprintf(stderr, "lapack_reference: dsyev info = %d\n", info);
    return 1;
  }
  std::FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr || std::fwrite(w.data(), sizeof(double), w.size(), out) != w.size() || std::fclose(out) != 0) {
    std::fprintf(stderr, "lapack_reference: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
