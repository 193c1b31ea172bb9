#pragma once
// One connection of a unit number to a file or a standard stream.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "io/file_stream.hpp"
#include "io/record_format.hpp"

namespace blockeig::io {

// Takes a copy of the text records written to a unit (copy_records): the
// console lines that a checkpoint keeps. It must not fail the statement.
class RecordCopy {
 public:
  virtual void copy(std::string_view text) noexcept = 0;

 protected:
  ~RecordCopy() = default;
};

enum class Action { read, write, readwrite };
enum class Form { formatted, unformatted };

struct Unit {
  std::int64_t number = 0;
  std::string file_name;  // FILE= value without trailing blanks; empty for standard units
  FileStream stream;
  Action action = Action::readwrite;
  Form form = Form::formatted;
  std::int64_t recl = max_record_length;
  // The first WRITE after the connection sets the end of the file at its
  // position (the truncation rule); the standard output streams are exempt.
  bool end_pending = true;
  // A FIFO is opened at its first transfer, for that transfer's direction
  // only: holding both ends, the program would never see the end of the
  // data it reads, or would write into a pipe that nothing reads.
  bool fifo_unopened = false;

  // List input: the last READ stopped inside a line, whose rest the next
  // READ skips first.
  bool input_mid_line = false;
  // When set, every text record written also goes here, with its line feed
  // (copy_records).
  RecordCopy* record_copy = nullptr;

  // Unformatted records.
  bool eof_seen = false;
  bool swap_bytes = false;
  std::unique_ptr<char[]> record_buffer;
  std::int64_t record_capacity = 0;
  std::int64_t record_length = 0;
  std::int64_t record_position = 0;

  bool is_standard() const { return file_name.empty(); }
};

}  // namespace blockeig::io
