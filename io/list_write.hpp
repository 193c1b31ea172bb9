#pragma once
// List-directed output of one record.
#include <span>
#include <string>

#include "io/item.hpp"

namespace blockeig::io {

// Empty on success, else the message.
struct ListWriteResult {
  std::string error;

  bool ok() const { return error.empty(); }
};

// Builds the record (without its line feed) of a list-directed write into
// `record`: one blank before the first item, one blank between items, a
// character item exactly as it is (trailing blanks included, no quotes), an
// integer in its minimal form ("-" when negative, never "+" or padding).
// Real items are not supported by list-directed output and give the error
// "List-directed output of a REAL item is not supported (item %d)", checked
// before anything is written; `record` is then empty.
ListWriteResult build_list_record(std::span<const Item> items, std::string& record);

}  // namespace blockeig::io
