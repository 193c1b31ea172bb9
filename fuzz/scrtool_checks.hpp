#pragma once
// What every scrtool parser target checks: a refusal is one printable line
// that names the file, and a matrix that is read comes back with the same
// bits through A.SCR and through every format export writes.
#include <string_view>

#include "tools/matrix.hpp"
#include "tools/tool_error.hpp"

namespace blockeig::fuzz {

// Prints what went wrong and aborts, so that libFuzzer keeps the input.
[[noreturn]] void scrtool_finding(const char* what, std::string_view detail);

// A parser's ToolError: one line, starting with "NAME:", every byte as
// printable() leaves it (no control byte, no broken UTF-8).
void check_refusal(const scrtool::ToolError& error, std::string_view name);

// import -> A.SCR (either byte order) -> read back, and A.SCR -> export as
// Matrix Market, .npy and text -> import: each gives the bits of `m`.
// Matrices of order above 100 are left out to keep runs fast.
void check_round_trip(const scrtool::Matrix& m);

// Allocations above this many bytes throw std::bad_alloc in the scrtool
// targets (scrtool_checks.cpp replaces operator new): a parser must make
// room only for data the input holds, and an input of a few kilobytes never
// needs this much, except a sparse Matrix Market file that announces a
// large order.
inline constexpr std::size_t allocation_cap = std::size_t{32} << 20;

}  // namespace blockeig::fuzz
