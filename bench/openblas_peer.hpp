#pragma once
// How the peer library runs. OpenBLAS picks its kernels for the processor
// when it is loaded, unless OPENBLAS_CORETYPE (and OPENBLAS_L2_SIZE) name a
// core; this machine's environment names an older one, a workaround for old
// OpenBLAS builds on some processors. The peers run at their best: with
// both variables unset, their eigenvalues checked against the reference
// LAPACK, and with the environment's setting only when the unset run's
// results disagree.
#include <string>

namespace blockeig::bench {

struct PeerSetup {
  std::string core;         // openblas_get_corename()
  std::string config;       // openblas_get_config()
  std::string settings;     // what OpenBLAS was loaded with, in words
  double difference = 0;    // largest |lambda_OpenBLAS - lambda_reference| / ||A||_2 checked
  bool fell_back = false;   // running with the environment's setting
};

// The first call in main. Re-executes the benchmark with the two variables
// unset (their values kept under other names), so that OpenBLAS is loaded
// with its own choice of core; returns in the process that runs the
// benchmark.
void load_openblas_unconstrained(char** argv);

// Checks OpenBLAS's dsyev ('N' and 'V') and dsyevd against the reference
// LAPACK (the program `reference`) on random matrices, files in `work`.
// When they disagree by more than 1e-12 ||A||_2 in a run without the
// variables, re-executes with the environment's setting; returns what was
// used and found.
PeerSetup check_openblas(char** argv, const std::string& reference, const std::string& work);

}  // namespace blockeig::bench
