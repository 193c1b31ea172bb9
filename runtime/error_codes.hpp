#pragma once
// The run-time error codes and their standard messages.
#include <string_view>

namespace blockeig::runtime {

// The codes are also in their own namespace, so that a layer above can take
// them alone with `using namespace runtime::error_codes`.
inline namespace error_codes {

enum ErrorCode : int {
  end_of_record = -2,
  end_of_file = -1,
  successful_return = 0,
  os_error = 1,
  conflicting_options = 200,
  bad_option = 201,
  missing_option = 202,
  file_already_opened = 203,
  unattached_unit = 204,
  format_error = 205,
  incorrect_action = 206,
  read_past_endfile = 207,
  bad_value = 208,
  numeric_overflow_on_read = 209,
  out_of_memory = 210,
  array_already_allocated = 211,
  bad_deallocation = 212,
  bad_record_number = 213,
  corrupt_record = 214,
  read_past_recl = 215,
  write_past_recl = 216,
};

}  // namespace error_codes

// The message used when the raising site supplies none ("Unknown error code"
// for a code outside the table). Code 1 is listed for completeness only: its
// report always carries the platform's text.
std::string_view error_message(int code);

}  // namespace blockeig::runtime
