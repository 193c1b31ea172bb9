#pragma once
// Whether the tests (and the programs they run) are built with
// AddressSanitizer, which reserves terabytes of address space: an
// address-space limit cannot be applied to its processes.
#if defined(__SANITIZE_ADDRESS__)
#define BLOCKEIG_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BLOCKEIG_UNDER_ASAN 1
#endif
#endif
