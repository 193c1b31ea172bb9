// Unformatted sequential records: arbitrary bytes as A.SCR, read on a unit
// as the driver reads it (the order, then the matrix, then two more
// statements), in either byte order. Every statement's outcome (items
// delivered, or the error that ends the run) is checked against a model of
// the record framing that works on the bytes directly.
//
// Input: byte 0 holds the flags (bit 0: reversed byte order; bits 1-3: the
// element count of the second READ when N gives none); the rest is the file.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "io/record_file.hpp"
#include "io/statements.hpp"
#include "io/unit_table.hpp"
#include "report_seam.hpp"
#include "runtime/error_codes.hpp"
#include "runtime/locus.hpp"

namespace {

using namespace blockeig::io;
using namespace blockeig::runtime;
using blockeig::fuzz::RunEnded;

constexpr std::int64_t unit_number = 8;

[[noreturn]] void finding(const char* what) {
  std::fprintf(stderr, "record reader mismatch: %s\n", what);
  std::abort();
}

// The model: the file as bytes and a read position.
class RecordModel {
 public:
  RecordModel(std::string_view file, bool swap) : file_(file), swap_(swap) {}

  // One READ statement of `count` items of `size` bytes: the error code it
  // must end with (nullopt for none), and the item bytes it must deliver
  // (all of them, or the leading ones that fit before the failure).
  std::optional<int> read(std::size_t size, std::size_t count, std::vector<unsigned char>& items) {
    items.clear();
    const std::size_t remaining = file_.size() - pos_;
    if (remaining == 0) return end_of_file;
    if (remaining < 4) return corrupt_record;
    const std::int64_t length = decode(file_.data() + pos_, 4);
    if (length < 0) return corrupt_record;
    if (length > max_record_length) return read_past_recl;
    if (static_cast<std::uint64_t>(remaining - 4) < static_cast<std::uint64_t>(length) + 4) return corrupt_record;
    const char* data = file_.data() + pos_ + 4;
    pos_ += 8 + static_cast<std::size_t>(length);
    const std::size_t fitting = std::min(count, static_cast<std::size_t>(length) / size);
    for (std::size_t i = 0; i < fitting; ++i) {
      const char* item = data + i * size;
      for (std::size_t b = 0; b < size; ++b) items.push_back(static_cast<unsigned char>(swap_ ? item[size - 1 - b] : item[b]));
    }
    if (fitting < count) return read_past_recl;
    return std::nullopt;
  }

 private:
  std::int64_t decode(const char* p, std::size_t n) const {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const auto byte = static_cast<unsigned char>(swap_ ? p[i] : p[n - 1 - i]);
      v = (v << 8) | byte;
    }
    return static_cast<std::int32_t>(v);
  }

  std::string_view file_;
  bool swap_;
  std::size_t pos_ = 0;
};

int memory_file(std::string_view bytes) {
  const int fd = ::memfd_create("A.SCR", 0);
  if (fd < 0) return -1;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      ::close(fd);
      return -1;
    }
    done += static_cast<std::size_t>(n);
  }
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

void connect(int fd, bool swap) {
  auto unit = std::make_unique<Unit>();
  unit->number = unit_number;
  unit->file_name = "A.SCR";
  unit->form = Form::unformatted;
  unit->action = Action::readwrite;
  unit->swap_bytes = swap;
  unit->stream.attach(fd, /*owned=*/true, /*unbuffered=*/false);
  insert_unit(std::move(unit));
}

// Runs one statement on the unit and on the model and compares them.
// Returns false when the statement ended the run.
template <class Item>
bool statement(RecordModel& model, std::span<Item> items) {
  std::vector<unsigned char> want;
  const std::optional<int> want_error = model.read(sizeof(Item), items.size(), want);
  std::optional<int> got_error;
  try {
    if constexpr (std::is_same_v<Item, std::int32_t>) {
      read_record(unit_number, items[0]);
    } else {
      read_record(unit_number, items);
    }
  } catch (const RunEnded& ended) {
    if (ended.status != 2) finding("a failure that is not a run-time error");
    got_error = ended.code;
  }
  if (got_error != want_error) finding("outcome");
  if (!want.empty() && std::memcmp(items.data(), want.data(), want.size()) != 0) finding("item bytes");
  return !got_error;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool swap = data[0] & 1;
  const std::size_t fallback_count = (data[0] >> 1) & 7;
  const std::string_view file(reinterpret_cast<const char*>(data) + 1, size - 1);
  const int fd = memory_file(file);
  if (fd < 0) return 0;
  connect(fd, swap);
  RecordModel model(file, swap);

  std::int32_t n = -7;
  if (statement(model, std::span<std::int32_t>(&n, 1))) {
    const std::size_t count = n >= 0 && n <= 40 ? static_cast<std::size_t>(n) * static_cast<std::size_t>(n) : fallback_count;
    std::vector<double> a(count, -1.0);
    std::int32_t extra = -7;
    std::vector<double> none;
    statement(model, std::span<double>(a)) && statement(model, std::span<std::int32_t>(&extra, 1)) &&
        statement(model, std::span<double>(none));
  }
  remove_unit(unit_number);  // closes the memory file
  clear_locus();
  return 0;
}
