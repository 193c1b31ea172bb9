#pragma once
// The numbers of the program's statements, as run-time error reports show
// them ("At line 15 of file main.cpp ..."). Every statement that can fail
// sets its number as the locus just before it runs.
#include <string_view>

namespace blockeig::statement {

// The main source file the reports name.
inline constexpr std::string_view source_file = "main.cpp";

// Run sequence.
inline constexpr int open_matrix_file = 10;
inline constexpr int read_order = 11;
inline constexpr int write_order = 12;
inline constexpr int allocate_matrices = 13;
inline constexpr int write_allocated = 14;
inline constexpr int read_matrix = 15;
inline constexpr int close_matrix_file = 16;
inline constexpr int write_read = 17;
inline constexpr int write_direct_ierr = 19;
inline constexpr int open_eigenvalue_file = 20;
inline constexpr int write_eigenvalue_line = 22;
inline constexpr int close_eigenvalue_file = 24;
inline constexpr int write_summary = 25;
inline constexpr int write_written = 27;

// Block iteration.
inline constexpr int write_prompt = 30;
inline constexpr int read_block_count = 31;
inline constexpr int allocate_layout = 32;
inline constexpr int write_table_heading = 40;
inline constexpr int write_table_row = 42;
inline constexpr int allocate_block_work = 60;
inline constexpr int write_block_line = 72;
inline constexpr int release_block_work = 86;
inline constexpr int write_sweep_line = 92;

// Inside the solver's routines, which do not set a locus of their own: the
// driver sets these before each call (or before obtaining a block solve's
// work itself), for a refused work allocation.
inline constexpr int allocate_reporder2_buffer = 126;
inline constexpr int allocate_tred12_work = 169;

}  // namespace blockeig::statement
