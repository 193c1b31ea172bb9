#include "tools/command_arguments.hpp"

#include "runtime/posix_file.hpp"
#include "runtime/printable.hpp"
#include "tools/file_io.hpp"
#include "tools/text_scan.hpp"

namespace scrtool::command {

Parsed parse_arguments(std::span<const std::string> args, std::span<const OptionRule> rules) {
  Parsed p;
  bool options_done = false;
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      p.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      p.help = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const OptionRule* rule = nullptr;
    for (const OptionRule& s : rules)
      if (name == s.long_name || (s.short_name && name.size() == 2 && name[1] == s.short_name)) rule = &s;
    if (rule == nullptr) throw UsageError("unknown option '" + printable(name) + "'");
    const std::string key(rule->long_name);
    if (p.has(key)) throw UsageError("option '" + printable(name) + "' given twice");
    if (!rule->takes_value) {
      if (equals != std::string::npos) throw UsageError("option '" + printable(name) + "' takes no value");
      p.options[key] = "";
    } else if (equals != std::string::npos) {
      p.options[key] = arg.substr(equals + 1);
    } else {
      if (k + 1 == args.size()) throw UsageError("option '" + printable(name) + "' needs a value");
      p.options[key] = args[++k];
    }
    if (rule->takes_value && p.options[key].empty()) throw UsageError("option '" + printable(name) + "' needs a value");
  }
  return p;
}

void require_operands(const Parsed& p, std::size_t count, const char* what) {
  if (p.positional.size() < count) throw UsageError(std::string("missing ") + what);
  if (p.positional.size() > count) throw UsageError("unexpected argument '" + printable(p.positional[count], blockeig::runtime::echo_limit) + "'");
}

void require_some_operands(const Parsed& p, const char* what) {
  if (p.positional.empty()) throw UsageError(std::string("missing ") + what);
}

std::string extension_of(std::string_view path) {
  const std::string name = blockeig::runtime::split_name(path).name;
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::span<const std::uint8_t> as_bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void write_text(const std::string& path, const std::string& text) {
  write_file_atomically(path, [&](const ByteSink& sink) { sink(as_bytes(text)); });
}

}  // namespace scrtool::command
