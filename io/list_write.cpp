#include "io/list_write.hpp"

#include <cstdio>

#include "io/edit_integer.hpp"

namespace blockeig::io {
namespace {

constexpr char separator = ' ';

}  // namespace

ListWriteResult build_list_record(std::span<const Item> items, std::string& record) {
  record.clear();
  ListWriteResult result;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].kind == Item::Kind::real) {
      char message[96];
      std::snprintf(message, sizeof message, "List-directed output of a REAL item is not supported (item %zu)", i + 1);
      result.error = message;
      return result;
    }
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    // The first item finds the record empty and gets one blank before it.
    record.push_back(i == 0 ? ' ' : separator);
    const Item& item = items[i];
    if (item.kind == Item::Kind::character) {
      record.append(item.text);
    } else {
      char digits[16];
      record.append(digits, write_minimal_integer(item.integer, digits));
    }
  }
  return result;
}

}  // namespace blockeig::io
