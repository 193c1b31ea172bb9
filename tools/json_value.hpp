#pragma once
// A small JSON reader (RFC 8259) for blockeig's results file: the whole
// grammar, numbers read exactly (the nearest double, as the program wrote
// them), strings with every escape, nesting limited so that no input can
// exhaust the stack.
//
// A document is checked whole once and then read where it is needed: a
// JsonValue is a place in the text, and nothing is copied out of it but
// what a caller asks for. Reading a document costs no memory beyond its
// text, whatever it holds; the caller keeps what it uses, in the form it
// wants (a flat array of doubles, say).
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace scrtool {

class JsonValue {
 public:
  enum class Kind { null, boolean, number, string, array, object };

  Kind kind() const;
  bool boolean() const;   // the value of true or false
  double number() const;  // a number's value
  bool integral() const;  // a number written without fraction or exponent
  std::string text() const;  // a string's content, escapes decoded
  std::size_t offset() const { return at_; }  // the value's first byte in the document

  // An array's items, or an object's members, in file order; nothing for
  // any other kind.
  template <typename F>
  void for_each_item(F&& visit) const;  // visit(JsonValue)
  template <typename F>
  void for_each_member(F&& visit) const;  // visit(const std::string& name, JsonValue)
  // The number of items or members.
  std::size_t size() const;

  // The first member named `key` of an object, or nothing (also when this
  // is no object).
  std::optional<JsonValue> find(std::string_view key) const;
  // The first member of each name in `keys`, in one pass over the object.
  template <std::size_t K>
  std::array<std::optional<JsonValue>, K> find(const std::array<std::string_view, K>& keys) const;

 private:
  friend JsonValue parse_json(std::string_view text, std::string_view name);
  JsonValue(std::string_view text, std::size_t at) : text_(text), at_(at) {}

  // The first child's place (after '[' or '{'), or npos when there is none.
  std::size_t first_child() const;
  // The place after the child at `at` and the comma that may follow it, or
  // npos after the last child.
  std::size_t next_child(std::size_t at) const;
  // An object member's name at `at`, raw, and the place of its value.
  std::string_view raw_name(std::size_t at) const;
  std::size_t member_value(std::size_t at) const;
  bool name_is(std::size_t at, std::string_view key) const;
  std::string name(std::size_t at) const;

  std::string_view text_;  // the whole document
  std::size_t at_;         // the value's first byte
};

// Checks a whole document and returns its value. Throws ToolError
// "NAME:LINE:COLUMN: what" for anything that is not JSON. The value reads
// from `text`, which must outlive it.
JsonValue parse_json(std::string_view text, std::string_view name);

template <typename F>
void JsonValue::for_each_item(F&& visit) const {
  if (kind() != Kind::array) return;
  for (std::size_t at = first_child(); at != std::string_view::npos; at = next_child(at)) visit(JsonValue(text_, at));
}

template <typename F>
void JsonValue::for_each_member(F&& visit) const {
  if (kind() != Kind::object) return;
  for (std::size_t at = first_child(); at != std::string_view::npos; at = next_child(member_value(at)))
    visit(name(at), JsonValue(text_, member_value(at)));
}

template <std::size_t K>
std::array<std::optional<JsonValue>, K> JsonValue::find(const std::array<std::string_view, K>& keys) const {
  std::array<std::optional<JsonValue>, K> found;
  if (kind() != Kind::object) return found;
  for (std::size_t at = first_child(); at != std::string_view::npos; at = next_child(member_value(at)))
    for (std::size_t k = 0; k < K; ++k)
      if (!found[k] && name_is(at, keys[k])) found[k] = JsonValue(text_, member_value(at));
  return found;
}

}  // namespace scrtool
