#pragma once
// A small JSON reader (RFC 8259) for blockeig's results file: the whole
// grammar, numbers read exactly (the nearest double, as the program wrote
// them), strings with every escape, nesting limited so that no input can
// exhaust the stack.
#include <string>
#include <string_view>
#include <vector>

namespace scrtool {

struct JsonMember;

struct JsonValue {
  enum class Kind { null, boolean, number, string, array, object };
  Kind kind = Kind::null;
  bool boolean = false;
  double number = 0;  // a number's value
  bool integral = false;  // a number written without fraction or exponent
  std::string text;   // a string's content
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;  // an object's members, in file order

  // The member named `key` of an object, or null when there is none (or this
  // is no object).
  const JsonValue* find(std::string_view key) const;
};

// One member of an object. (A std::pair would need JsonValue complete where
// JsonValue itself is being declared.)
struct JsonMember {
  std::string name;
  JsonValue value;
};

// Parses a whole document. Throws ToolError "NAME:LINE:COLUMN: what" for
// anything that is not JSON.
JsonValue parse_json(std::string_view text, std::string_view name);

}  // namespace scrtool
