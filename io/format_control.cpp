#include "io/format_control.hpp"

#include <cassert>
#include <cstdio>

#include "io/edit_integer.hpp"
#include "io/edit_real.hpp"

namespace blockeig::io {
namespace {

// Walks the format for a list of items, calling `field(descriptor, index)`
// for each item in turn and `record_end()` after each record.
template <class Field, class RecordEnd>
class FormatWalk {
 public:
  FormatWalk(const Format& format, std::size_t item_count, Field field, RecordEnd record_end)
      : format_(format), item_count_(item_count), field_(field), record_end_(record_end) {}

  void run() {
    std::size_t start = 0;
    while (true) {
      const bool exhausted = walk(format_.items, start);
      record_end_();
      if (!exhausted || next_ == item_count_) return;
      start = reversion_point();
    }
  }

 private:
  // Returns false as soon as a data descriptor finds no item left, true when
  // the list ends. Every group holds a data descriptor (the parser rejects
  // empty groups), so each pass over a group takes at least one item and a
  // repeat count bounds nothing but itself.
  bool walk(const std::vector<FormatItem>& list, std::size_t from) {
    for (std::size_t i = from; i < list.size(); ++i) {
      const FormatItem& item = list[i];
      for (std::int32_t r = 0; r < item.repeat; ++r) {
        if (item.kind == FormatItem::Kind::group) {
          if (!walk(item.children, 0)) return false;
        } else {
          if (next_ == item_count_) return false;
          field_(item, next_++);
        }
      }
    }
    return true;
  }

  std::size_t reversion_point() const {
    for (std::size_t i = format_.items.size(); i-- > 0;)
      if (format_.items[i].kind == FormatItem::Kind::group) return i;
    return 0;
  }

  const Format& format_;
  std::size_t item_count_;
  std::size_t next_ = 0;
  Field field_;
  RecordEnd record_end_;
};

template <class Field, class RecordEnd>
void walk_format(const Format& format, std::size_t item_count, Field field, RecordEnd record_end) {
  FormatWalk<Field, RecordEnd>(format, item_count, field, record_end).run();
}

std::string_view type_name(Item::Kind kind) {
  switch (kind) {
    case Item::Kind::integer: return "INTEGER";
    case Item::Kind::real: return "REAL";
    case Item::Kind::character: return "CHARACTER";
  }
  return "UNKNOWN";
}

Item::Kind expected_kind(FormatItem::Kind descriptor) {
  return descriptor == FormatItem::Kind::integer ? Item::Kind::integer : Item::Kind::real;
}

std::string mismatch_message(Item::Kind expected, std::size_t index, Item::Kind got) {
  char number[24];
  std::snprintf(number, sizeof number, "%zu", index + 1);
  return std::string("Expected ")
      .append(type_name(expected))
      .append(" for item ")
      .append(number)
      .append(" in formatted transfer, got ")
      .append(type_name(got));
}

std::size_t edit_field(const FormatItem& descriptor, const Item& item, std::span<char> out) {
  switch (descriptor.kind) {
    case FormatItem::Kind::integer: return edit_integer(item.integer, descriptor.w, descriptor.m, out);
    case FormatItem::Kind::fixed: return edit_fixed(item.real, descriptor.w, descriptor.d, out);
    case FormatItem::Kind::general: return edit_general(item.real, descriptor.w, descriptor.d, descriptor.e, out);
    case FormatItem::Kind::group: break;
  }
  assert(false && "groups are walked, not edited");
  return 0;
}

}  // namespace

FormatControlResult write_formatted_records(const Format& format, std::span<const Item> items,
                                            std::string& record, RecordSink& sink) {
  FormatControlResult result;
  walk_format(
      format, items.size(),
      [&](const FormatItem& descriptor, std::size_t index) {
        const Item::Kind expected = expected_kind(descriptor.kind);
        if (result.ok() && items[index].kind != expected)
          result.error = mismatch_message(expected, index, items[index].kind);
      },
      [] {});
  if (!result.ok()) return result;

  record.clear();
  walk_format(
      format, items.size(),
      [&](const FormatItem& descriptor, std::size_t index) {
        char field[max_field_width];
        const std::size_t length = edit_field(descriptor, items[index], field);
        record.append(field, length);
      },
      [&] {
        sink.record(record);
        record.clear();
      });
  return result;
}

}  // namespace blockeig::io
