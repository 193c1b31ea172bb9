#include "tools/svg_writer.hpp"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>

#include "tools/text_scan.hpp"

namespace scrtool {

std::string xml_text(std::string_view text) {
  const auto plain = [](char c) { return c >= 0x20 && c < 0x7f && c != '&' && c != '<' && c != '>' && c != '"'; };
  if (std::all_of(text.begin(), text.end(), plain)) return std::string(text);
  std::string out;
  const std::string shown = printable(text);
  for (std::size_t k = 0; k < shown.size(); ++k) {
    // U+FFFE and U+FFFF are no XML characters, though they are UTF-8.
    if (shown.compare(k, 2, "\xef\xbf") == 0 && k + 2 < shown.size() && (shown[k + 2] == '\xbe' || shown[k + 2] == '\xbf')) {
      out += shown[k + 2] == '\xbe' ? "\\xef\\xbf\\xbe" : "\\xef\\xbf\\xbf";
      k += 2;
      continue;
    }
    switch (shown[k]) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += shown[k];
    }
  }
  return out;
}

std::string coordinate(double value) {
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, std::round(value * 100) / 100, std::chars_format::fixed, 2);
  return std::string(buffer, r.ptr);
}

SvgWriter::SvgWriter() : out_("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") {}

void SvgWriter::end_start_tag() {
  if (!in_start_tag_) return;
  out_ += '>';
  if (open_.back().container) out_ += '\n';
  in_start_tag_ = false;
}

SvgWriter& SvgWriter::start(std::string_view name, bool container) {
  end_start_tag();
  out_ += '<';
  out_ += name;
  open_.push_back({name, container});
  in_start_tag_ = true;
  return *this;
}

SvgWriter& SvgWriter::open(std::string_view name) { return start(name, false); }

SvgWriter& SvgWriter::open_container(std::string_view name) { return start(name, true); }

SvgWriter& SvgWriter::attr(std::string_view name, std::string_view value) {
  assert(in_start_tag_);
  out_ += ' ';
  out_ += name;
  out_ += "=\"";
  out_ += xml_text(value);
  out_ += '"';
  return *this;
}

SvgWriter& SvgWriter::coord(std::string_view name, double value) { return attr(name, coordinate(value)); }

SvgWriter& SvgWriter::text(std::string_view content) {
  end_start_tag();
  out_ += xml_text(content);
  return *this;
}

SvgWriter& SvgWriter::close() {
  assert(!open_.empty());
  const Open element = open_.back();
  if (in_start_tag_) {
    out_ += "/>";
    in_start_tag_ = false;
  } else {
    out_ += "</";
    out_ += element.name;
    out_ += '>';
  }
  open_.pop_back();
  if (open_.empty() || open_.back().container) out_ += '\n';
  return *this;
}

SvgWriter& SvgWriter::open_svg(double width, double height, double y) {
  open_container("svg");
  if (y != 0) coord("y", y);
  attr("xmlns", "http://www.w3.org/2000/svg").coord("width", width).coord("height", height);
  return attr("viewBox", "0 0 " + coordinate(width) + " " + coordinate(height));
}

std::string SvgWriter::finish() {
  assert(open_.empty());
  return std::move(out_);
}

}  // namespace scrtool
