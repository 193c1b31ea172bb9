// Format strings and the I, F and G fields.
//
// Byte 0 picks the mode:
//   0  the rest is a format string: parse_format must not fail unsafely; a
//      format it accepts is written back in canonical form and must parse to
//      the same tree.
//   1  one value under I, F and G with fuzzed widths and digit counts: each
//      field must equal the exact reference (exact_decimal.cpp) byte for byte.
//   2  a list of items, then a format string: every record of the formatted
//      write must equal the reference fields joined under the format
//      control rules.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "exact_decimal.hpp"
#include "io/edit_integer.hpp"
#include "io/edit_real.hpp"
#include "io/format.hpp"
#include "io/format_control.hpp"

namespace {

using namespace blockeig::io;
using blockeig::fuzz::reference_fixed;
using blockeig::fuzz::reference_general;
using blockeig::fuzz::reference_integer;

[[noreturn]] void finding(const std::string& what, const std::string& got, const std::string& want) {
  std::fprintf(stderr, "edit mismatch: %s\n  got  [%s]\n  want [%s]\n", what.c_str(), got.c_str(), want.c_str());
  std::abort();
}

std::string canonical(const std::vector<FormatItem>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const FormatItem& item = items[i];
    if (i > 0) text += ',';
    if (item.repeat != 1) text += std::to_string(item.repeat);
    switch (item.kind) {
      case FormatItem::Kind::integer:
        text += "I" + std::to_string(item.w);
        if (item.m != absent) text += "." + std::to_string(item.m);
        break;
      case FormatItem::Kind::fixed:
        text += "F" + std::to_string(item.w) + "." + std::to_string(item.d);
        break;
      case FormatItem::Kind::general:
        text += "G" + std::to_string(item.w) + "." + std::to_string(item.d);
        if (item.e != absent) text += "E" + std::to_string(item.e);
        break;
      case FormatItem::Kind::group:
        text += "(" + canonical(item.children) + ")";
        break;
    }
  }
  return text;
}

// The limits that the editing routines require of every descriptor.
void check_limits(const std::vector<FormatItem>& items, const std::string& text) {
  if (items.empty()) finding("empty item list accepted", text, "");
  for (const FormatItem& item : items) {
    bool ok = item.repeat >= 1;
    switch (item.kind) {
      case FormatItem::Kind::integer:
        ok = ok && item.w >= 0 && item.w <= max_field_width &&
             (item.m == absent || (item.m >= 0 && item.m < max_field_width && (item.w == 0 || item.m <= item.w)));
        break;
      case FormatItem::Kind::fixed:
        ok = ok && item.w >= 1 && item.w <= max_field_width && item.d >= 0 && item.d <= max_field_width;
        break;
      case FormatItem::Kind::general:
        ok = ok && item.w >= 1 && item.w <= max_field_width && item.d >= 1 && item.d <= max_field_width &&
             (item.e == absent || (item.e >= 1 && item.e <= max_field_width));
        break;
      case FormatItem::Kind::group:
        check_limits(item.children, text);
        break;
    }
    if (!ok) finding("descriptor outside the editing limits", text, canonical({item}));
  }
}

void parse_mode(const std::string& text) {
  const FormatParse parsed = parse_format(text);
  if (!parsed.ok()) {
    if (parsed.error.find(" at position ") == std::string::npos) finding("error without a position", parsed.error, "");
    return;
  }
  check_limits(parsed.format.items, text);
  const std::string again = "(" + canonical(parsed.format.items) + ")";
  const FormatParse reparsed = parse_format(again);
  if (!reparsed.ok() || !(reparsed.format.items == parsed.format.items)) finding("canonical form", again, text);
}

double fuzzed_double(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: {  // any bits: NaN, infinities, subnormals, the whole range
      const std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
      double x;
      std::memcpy(&x, &bits, sizeof x);
      return x;
    }
    case 1: {  // a short binary fraction: exact decimal ties are common
      const auto k = in.ConsumeIntegral<std::int32_t>();
      return std::ldexp(static_cast<double>(k), -in.ConsumeIntegralInRange<int>(0, 40));
    }
    case 2: {  // near a decimal boundary: n * 10^p nudged by a few ulps
      double x = static_cast<double>(in.ConsumeIntegralInRange<std::int64_t>(-100000, 100000)) *
                 std::pow(10.0, in.ConsumeIntegralInRange<int>(-30, 30));
      for (int steps = in.ConsumeIntegralInRange<int>(-3, 3); steps != 0; steps += steps < 0 ? 1 : -1)
        x = std::nextafter(x, steps < 0 ? -INFINITY : INFINITY);
      return x;
    }
    default:  // a value a user might write
      return in.ConsumeFloatingPoint<double>();
  }
}

int fuzzed_digits(FuzzedDataProvider& in, int low) {
  return in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(low, 20) : in.ConsumeIntegralInRange<int>(low, max_field_width);
}

void field_mode(FuzzedDataProvider& in) {
  char out[max_field_width];
  const double x = fuzzed_double(in);
  const auto v = in.ConsumeIntegral<std::int32_t>();
  const int w = fuzzed_digits(in, 1);
  {
    const int d = fuzzed_digits(in, 0);
    const std::string got(out, edit_fixed(x, w, d, out));
    const std::string want = reference_fixed(x, w, d);
    if (got != want) finding("F" + std::to_string(w) + "." + std::to_string(d), got, want);
  }
  {
    const int d = fuzzed_digits(in, 1);
    const int e = in.ConsumeBool() ? absent : fuzzed_digits(in, 1);
    const std::string got(out, edit_general(x, w, d, e, out));
    const std::string want = reference_general(x, w, d, e);
    if (got != want) finding("G" + std::to_string(w) + "." + std::to_string(d) + "E" + std::to_string(e), got, want);
  }
  {
    const int iw = in.ConsumeBool() ? 0 : w;
    const int m = in.ConsumeBool() ? absent : in.ConsumeIntegralInRange<int>(0, iw == 0 ? max_field_width - 1 : iw);
    const std::string got(out, edit_integer(v, iw, m == max_field_width ? max_field_width - 1 : m, out));
    const std::string want = reference_integer(v, iw, m == max_field_width ? max_field_width - 1 : m);
    if (got != want) finding("I" + std::to_string(iw) + "." + std::to_string(m), got, want);
  }
}

class Records final : public RecordSink {
 public:
  void record(std::string_view text) override { records.emplace_back(text); }
  std::vector<std::string> records;
};

// The reference format control: the data descriptors in the order the
// format presents them, with the reversion rule, as a flat list.
void flatten(const std::vector<FormatItem>& items, std::size_t from, std::vector<const FormatItem*>& out, std::size_t limit) {
  for (std::size_t i = from; i < items.size() && out.size() <= limit; ++i)
    for (std::int32_t r = 0; r < items[i].repeat && out.size() <= limit; ++r) {
      if (items[i].kind == FormatItem::Kind::group) flatten(items[i].children, 0, out, limit);
      else out.push_back(&items[i]);
    }
}

std::string reference_field(const FormatItem& d, const Item& item) {
  switch (d.kind) {
    case FormatItem::Kind::integer: return reference_integer(item.integer, d.w, d.m);
    case FormatItem::Kind::fixed: return reference_fixed(item.real, d.w, d.d);
    case FormatItem::Kind::general: return reference_general(item.real, d.w, d.d, d.e);
    case FormatItem::Kind::group: break;
  }
  std::abort();
}

void write_mode(FuzzedDataProvider& in) {
  std::vector<Item> items;
  for (int count = in.ConsumeIntegralInRange<int>(0, 8); count > 0; --count) {
    if (in.ConsumeBool()) items.emplace_back(in.ConsumeIntegral<std::int32_t>());
    else items.emplace_back(fuzzed_double(in));
  }
  const std::string text = in.ConsumeRemainingBytesAsString();
  const FormatParse parsed = parse_format(text);
  if (!parsed.ok()) return;
  const std::vector<FormatItem>& top = parsed.format.items;
  std::size_t reversion = 0;
  for (std::size_t i = top.size(); i-- > 0;)
    if (top[i].kind == FormatItem::Kind::group) {
      reversion = i;
      break;
    }
  std::vector<const FormatItem*> first, again;
  flatten(top, 0, first, items.size());
  flatten(top, reversion, again, items.size());

  std::vector<std::string> want(1);
  bool mismatch = false;
  const std::vector<const FormatItem*>* pass = &first;
  std::size_t next = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (next == pass->size()) {
      want.emplace_back();
      pass = &again;
      next = 0;
    }
    const FormatItem& d = *(*pass)[next++];
    if ((d.kind == FormatItem::Kind::integer) != (items[i].kind == Item::Kind::integer)) mismatch = true;
    if (!mismatch) want.back() += reference_field(d, items[i]);
  }

  Records sink;
  std::string record;
  const FormatControlResult result = write_formatted_records(parsed.format, items, record, sink);
  if (mismatch) {
    if (result.ok() || !sink.records.empty()) finding("type mismatch not refused", text, "");
    return;
  }
  if (!result.ok()) finding("write refused: " + result.error, text, "");
  if (sink.records.size() != want.size()) finding("record count", std::to_string(sink.records.size()), std::to_string(want.size()));
  for (std::size_t i = 0; i < want.size(); ++i)
    if (sink.records[i] != want[i]) finding("record of " + text, sink.records[i], want[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  FuzzedDataProvider in(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0: parse_mode(in.ConsumeRemainingBytesAsString()); break;
    case 1: field_mode(in); break;
    default: write_mode(in); break;
  }
  return 0;
}
