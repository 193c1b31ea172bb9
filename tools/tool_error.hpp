#pragma once
// The one way scrtool's parsers and checks report what a user can cause:
// a message that already names the place (line and column, or byte offset).
// main() prints it after "scrtool: " and exits with status 2.
#include <stdexcept>
#include <string>

namespace scrtool {

class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace scrtool
