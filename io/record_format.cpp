#include "io/record_format.hpp"

#include <array>

namespace blockeig::io {

namespace {

// The words for each framing that is not complete. In a text, {record},
// {offset}, {length} and {available} stand for the record's number, the
// offset of its leading marker, that marker and the bytes from there on;
// {after} for the bytes after the marker, {previous} for the record's
// number less one and {limit} for the record length limit.
struct FramingText {
  Framing framing;
  std::string_view text;
};

constexpr std::array framing_texts = {
    FramingText{Framing::partial_marker,
                "only {available} byte(s) remain at byte {offset} where the length marker of record {record} belongs"},
    FramingText{Framing::negative_length, "the length marker of record {record} at byte {offset} is negative ({length})"},
    FramingText{Framing::over_limit,
                "the length marker of record {record} at byte {offset} ({length}) is above the record length limit "
                "{limit}"},
    FramingText{Framing::truncated,
                "the file ends inside record {record}: its marker at byte {offset} announces {length} data bytes, but "
                "only {after} bytes follow the marker ({length} + 4 needed)"},
};

// A file that ends before record 1 is empty; one that ends before a later
// record holds the records before it.
constexpr std::string_view empty_file_text = "the file is empty";
constexpr std::string_view ends_after_text = "the file holds record {previous} only";

std::string fill(std::string_view text, const RecordFraming& framing, const RecordPlace& place) {
  const auto value = [&](std::string_view name) -> std::string {
    if (name == "record") return std::to_string(place.record);
    if (name == "previous") return std::to_string(place.record - 1);
    if (name == "offset") return std::to_string(place.offset);
    if (name == "length") return std::to_string(framing.length);
    if (name == "available") return std::to_string(place.available);
    if (name == "after") return std::to_string(place.available - static_cast<std::int64_t>(marker_size));
    return std::to_string(max_record_length);  // limit
  };
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t open = text.find('{', at);
    out.append(text.substr(at, open - at));
    if (open == std::string_view::npos) break;
    const std::size_t close = text.find('}', open);
    out += value(text.substr(open + 1, close - open - 1));
    at = close + 1;
  }
  return out;
}

}  // namespace

std::string framing_text(const RecordFraming& framing, const RecordPlace& place) {
  if (framing.framing == Framing::end_of_file)
    return fill(place.record == 1 ? empty_file_text : ends_after_text, framing, place);
  for (const FramingText& row : framing_texts)
    if (row.framing == framing.framing) return fill(row.text, framing, place);
  return {};
}

}  // namespace blockeig::io
