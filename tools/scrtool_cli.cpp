#include "tools/scrtool_cli.hpp"

#include <new>
#include <span>
#include <string_view>

#include "tools/command_arguments.hpp"
#include "tools/scrtool_commands.hpp"
#include "tools/scrtool_help.hpp"
#include "tools/tool_error.hpp"

#ifndef BLOCKEIG_VERSION
#define BLOCKEIG_VERSION "unknown"
#endif

namespace scrtool {

namespace {

using namespace command;

struct Command {
  std::string_view name;
  int (*run)(std::span<const std::string>, std::ostream&, std::ostream&);
};

constexpr Command commands[] = {
    {"import", run_import}, {"export", run_export}, {"info", run_info}, {"gen", run_gen}, {"plot", run_plot},
    {"compare", run_compare}, {"study", run_study_command}};

}  // namespace

int run_scrtool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << "scrtool: missing command\nTry 'scrtool --help'.\n";
    return exit_error;
  }
  const std::string& first = args[0];
  if (first == "-h" || first == "--help" || first == "help") {
    if (first == "help" && args.size() > 1) return run_scrtool({args[1], "--help"}, out, err);
    out << main_help;
    return exit_ok;
  }
  if (first == "-V" || first == "--version") {
    out << "scrtool (blockeig) " << BLOCKEIG_VERSION << '\n';
    return exit_ok;
  }
  for (const Command& command : commands) {
    if (first != command.name) continue;
    try {
      const int status = command.run(std::span(args).subspan(1), out, err);
      out.flush();
      return status;
    } catch (const UsageError& e) {
      err << "scrtool " << command.name << ": " << e.what() << "\nTry 'scrtool " << command.name << " --help'.\n";
    } catch (const ToolError& e) {
      err << "scrtool " << command.name << ": " << e.what() << '\n';
    } catch (const std::bad_alloc&) {
      err << "scrtool " << command.name << ": out of memory\n";
    }
    return exit_error;
  }
  err << "scrtool: unknown command '" << first << "'\nTry 'scrtool --help'.\n";
  return exit_error;
}

}  // namespace scrtool
