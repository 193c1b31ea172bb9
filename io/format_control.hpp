#pragma once
// Format control: a parsed format drives the items of one formatted write
// statement into records of text.
#include <span>
#include <string>
#include <string_view>

#include "io/format.hpp"
#include "io/item.hpp"

namespace blockeig::io {

// Receives each finished record, without its line feed.
class RecordSink {
 public:
  virtual void record(std::string_view text) = 0;

 protected:
  ~RecordSink() = default;
};

// Empty on success, else the message, such as
// "Expected REAL for item 2 in formatted transfer, got INTEGER".
struct FormatControlResult {
  std::string error;

  bool ok() const { return error.empty(); }
};

// Edits `items` in order under the data descriptors of `format` and hands
// each record to `sink`. The statement ends as soon as the items run out
// (descriptors left over write nothing); when the format's final ")" is
// reached with items remaining, the record ends and control starts again at
// the last top-level group (with its repeat count), or at the beginning when
// there is none. No items at all make one empty record.
//
// Every item is checked against its descriptor before anything is written:
// I takes an integer, F and G take a real. On a mismatch no record is handed
// to the sink and the error names the item (counted from 1) and both types.
//
// `record` is the caller's reusable buffer for the record being built; its
// contents on exit are unspecified. Editing a field allocates nothing.
FormatControlResult write_formatted_records(const Format& format, std::span<const Item> items,
                                            std::string& record, RecordSink& sink);

}  // namespace blockeig::io
