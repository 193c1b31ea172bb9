#pragma once
// LAPACK's symmetric eigen-solver, the outside judge of the solver tests
// (reference LAPACK or OpenBLAS, whichever the build found).
#ifdef BLOCKEIG_HAVE_LAPACK
extern "C" void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda,
                       double* w, double* work, const int* lwork, int* info);
#endif
