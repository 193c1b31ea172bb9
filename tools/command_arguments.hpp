#pragma once
// What scrtool's commands share: their exit statuses, the reading of their
// options and operands, the usage error that points at a command's help,
// and a few helpers on file names and text.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/tool_error.hpp"

namespace scrtool::command {

inline constexpr int exit_ok = 0;
inline constexpr int exit_rejected = 1;
inline constexpr int exit_error = 2;

// A usage mistake: reported with a pointer to the command's help.
class UsageError : public ToolError {
 public:
  using ToolError::ToolError;
};

struct OptionRule {
  std::string_view long_name;  // "--output"
  char short_name;             // 'o', or 0
  bool takes_value;
};

struct Parsed {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // long name -> value ("" for flags)
  bool help = false;
  bool has(const std::string& name) const { return options.count(name) != 0; }
  std::optional<std::string> value(const std::string& name) const {
    const auto it = options.find(name);
    return it == options.end() ? std::nullopt : std::optional(it->second);
  }
};

// Options may come before, between or after the operands; "--" ends them.
Parsed parse_arguments(std::span<const std::string> args, std::span<const OptionRule> rules);
void require_operands(const Parsed& p, std::size_t count, const char* what);
void require_some_operands(const Parsed& p, const char* what);

// ".mtx" for "d/m.mtx"; empty without an extension.
std::string extension_of(std::string_view path);
std::string lower(std::string_view text);
std::span<const std::uint8_t> as_bytes(const std::string& text);
// Replaces `path` with `text` once it is complete.
void write_text(const std::string& path, const std::string& text);

}  // namespace scrtool::command
