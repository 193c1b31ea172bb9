#pragma once
// scrtool's commands, each run on the arguments after its name; normal
// output goes to `out`, warnings to `err`. They return the exit status or
// throw command::UsageError or ToolError (scrtool_cli.cpp reports them).
// Their help texts are scrtool_help.hpp's.
#include <ostream>
#include <span>
#include <string>

namespace scrtool::command {

// Converting and checking A.SCR (matrix_commands.cpp).
int run_import(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int run_export(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int run_info(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int run_gen(std::span<const std::string> args, std::ostream& out, std::ostream& err);
// Looking at runs (run_commands.cpp).
int run_plot(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int run_compare(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int run_study_command(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace scrtool::command
