// The choice between the processor's kernels and the plain loops, shared by
// the kernels of both arithmetics.
#include <atomic>

#include "arithmetic/extended_kernels.hpp"

namespace blockeig::kernels {

namespace {

// Read on every kernel call from every thread; a relaxed load costs nothing
// beside a kernel's work, and any value gives the same bits.
std::atomic<Choice> current{Choice::processor};

}  // namespace

void choose(Choice c) { current.store(c, std::memory_order_relaxed); }

Choice choice() { return current.load(std::memory_order_relaxed); }

}  // namespace blockeig::kernels
