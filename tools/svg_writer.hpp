#pragma once
// A small SVG writer: elements with their attributes in the order given,
// text and attribute values escaped so that the document is well-formed XML
// whatever bytes a name or a state holds, coordinates with two decimals.
//
//   svg.open("circle").attr("class", "e1").coord("cx", 12.5).coord("cy", 40);
//   svg.open("title").text("sweep 1").close();
//   svg.close();
//
// A container (the document, a nested <svg>, a <g>) puts each child on a
// line of its own; any other element keeps its children on its line.
#include <string>
#include <string_view>
#include <vector>

namespace scrtool {

// `text` as XML character data or an attribute value: its bytes as
// printable() shows them (a control character, a noncharacter or a byte
// that is not UTF-8 as \xNN), and & < > " as entities.
std::string xml_text(std::string_view text);

class SvgWriter {
 public:
  // Starts the document with the XML declaration.
  SvgWriter();

  // An element's start tag; attributes follow until its first child, its
  // text or its close().
  SvgWriter& open(std::string_view name);
  SvgWriter& open_container(std::string_view name);
  SvgWriter& attr(std::string_view name, std::string_view value);
  SvgWriter& coord(std::string_view name, double value);
  SvgWriter& text(std::string_view content);
  // Ends the innermost open element.
  SvgWriter& close();

  // A nested <svg> (the document's own first): width, height and the
  // viewBox that keeps one unit one pixel, placed `y` below the top of the
  // element around it when `y` is not 0.
  SvgWriter& open_svg(double width, double height, double y = 0);

  // The document, once every element is closed.
  std::string finish();

 private:
  struct Open {
    std::string_view name;  // a literal
    bool container;
  };
  void end_start_tag();
  SvgWriter& start(std::string_view name, bool container);

  std::string out_;
  std::vector<Open> open_;
  bool in_start_tag_ = false;
};

// A coordinate with two decimals: plenty for a picture of this size.
std::string coordinate(double value);

}  // namespace scrtool
