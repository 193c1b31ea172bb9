#include "records/results_file.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>
#include <variant>

#include "arithmetic/extended.hpp"
#include "arithmetic/extended_kernels.hpp"
#include "records/e1_accuracy.hpp"
#include "records/json_text.hpp"
#include "records/message_text.hpp"
#include "runtime/results_schema.hpp"
#include "runtime/report.hpp"
#include "runtime/run_constants.hpp"

namespace blockeig {

namespace {

namespace schema = results_schema;
using schema::format_version;

// Longest shortest-form double: "-2.2250738585072014e-308" has 24
// characters; 32 leave room for the ".0" added below.
constexpr std::size_t number_room = 32;

// A double as the shortest decimal that reads back to the same bits, always
// with a fraction or an exponent so that every JSON reader takes it for a
// floating-point number (and keeps -0.0). JSON has no NaN or infinity:
// those are the strings "NaN", "Infinity" and "-Infinity".
std::size_t format_number(double value, char* out) {
  if (std::isnan(value) || std::isinf(value)) {
    const std::string_view word = std::isnan(value) ? schema::number_word::nan
                                  : value > 0       ? schema::number_word::infinity
                                                    : schema::number_word::minus_infinity;
    out[0] = '"';
    word.copy(out + 1, word.size());
    out[word.size() + 1] = '"';
    return word.size() + 2;
  }
  char* end = std::to_chars(out, out + number_room, value).ptr;
  if (std::find_if(out, end, [](char c) { return c == '.' || c == 'e'; }) == end) end = std::copy_n(".0", 2, end);
  return static_cast<std::size_t>(end - out);
}

void append_number(TextStore& out, double value) {
  char text[number_room];
  out.append({text, format_number(value, text)});
}

void append_integer(TextStore& out, std::int64_t value) {
  char text[24];
  out.append({text, static_cast<std::size_t>(std::to_chars(text, text + sizeof text, value).ptr - text)});
}

void append_numbers(TextStore& out, std::span<const double> values) {
  out.append("[");
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (k > 0) out.append(", ");
    append_number(out, values[k]);
  }
  out.append("]");
}

void append_string(TextStore& out, std::string_view text) {
  out.append("\"");
  escape_json(text, [&](std::string_view piece) { out.append(piece); });
  out.append("\"");
}

// `before`, then `"KEY": `. `put` takes the output piece by piece.
template <typename Put>
void put_key(Put&& put, std::string_view before, std::string_view key) {
  put(before);
  put("\"");
  put(key);
  put("\": ");
}

void append_key(TextStore& out, std::string_view before, std::string_view key) {
  put_key([&](std::string_view piece) { out.append(piece); }, before, key);
}

// A member's value, written as the document writes each kind.
struct Integer {
  std::int64_t value;
};
struct Number {
  double value;
};
struct Text {
  std::string_view value;  // written as a JSON string
};
struct Literal {
  std::string_view value;  // written as it is: true, false, null
};
struct Numbers {
  std::span<const double> values;
};
using Value = std::variant<Integer, Number, Text, Literal, Numbers>;

// One member of an object: `before` (after the first member), its key and
// its value.
struct Member {
  std::string_view key;
  Value value;
  std::string_view before = ", ";
};

void append_value(TextStore& out, const Value& value) {
  struct Writer {
    TextStore& out;
    void operator()(Integer v) const { append_integer(out, v.value); }
    void operator()(Number v) const { append_number(out, v.value); }
    void operator()(Text v) const { append_string(out, v.value); }
    void operator()(Literal v) const { out.append(v.value); }
    void operator()(Numbers v) const { append_numbers(out, v.values); }
  };
  std::visit(Writer{out}, value);
}

// The members in order, `opening` before the first one's key.
void append_members(TextStore& out, std::string_view opening, std::initializer_list<Member> members) {
  bool first = true;
  for (const Member& member : members) {
    append_key(out, first ? opening : member.before, member.key);
    append_value(out, member.value);
    first = false;
  }
}

// {"KEY": VALUE, ...}
void append_object(TextStore& out, std::initializer_list<Member> members) {
  append_members(out, "{", members);
  out.append("}");
}

// Fixed pieces of the document joined at compile time from the schema's
// words, so that writing them allocates nothing.
class FixedText {
 public:
  constexpr FixedText(std::initializer_list<std::string_view> pieces) {
    for (const std::string_view piece : pieces)
      for (const char c : piece) data_[size_++] = c;
  }
  constexpr operator std::string_view() const { return {data_, size_}; }

 private:
  char data_[64] = {};
  std::size_t size_ = 0;
};

constexpr FixedText state_member(std::string_view word) { return {",\n \"", schema::key::state, "\": \"", word, "\""}; }

// The failure section, assembled without allocating: the report is at most
// kept_report_bytes, no byte of it escapes to more than six, and the rest of
// the section takes fewer than 128.
class FailureText {
 public:
  void put(std::string_view piece) {
    const std::size_t n = std::min(piece.size(), sizeof buffer_ - length_);
    std::memcpy(buffer_ + length_, piece.data(), n);
    length_ += n;
  }
  std::string_view text() const { return {buffer_, length_}; }

 private:
  char buffer_[6 * runtime::kept_report_bytes + 128];
  std::size_t length_ = 0;
};

FailureText failure_text;

// Positions 1..N ordered by their final value, NaN last, equal values in
// position order; null when the memory for them is refused.
std::unique_ptr<std::uint32_t[]> positions_by_rank(std::span<const double> E) {
  std::unique_ptr<std::uint32_t[]> order(new (std::nothrow) std::uint32_t[std::max<std::size_t>(E.size(), 1)]);
  if (!order) return order;
  std::iota(order.get(), order.get() + E.size(), std::uint32_t{0});
  // The merge buffer of a stable sort is taken without throwing, and the
  // sort does without it when it is refused.
  std::stable_sort(order.get(), order.get() + E.size(), [&](std::uint32_t a, std::uint32_t b) {
    if (std::isnan(E[a]) || std::isnan(E[b])) return !std::isnan(E[a]) && std::isnan(E[b]);
    return E[a] < E[b];
  });
  return order;
}

// A quotient whose divisor is 0 has no value: null.
Value quotient(double value, double divisor) { return divisor == 0 ? Value(Literal{"null"}) : Value(Number{value}); }

// end.accuracy: how far the final E(1) lies from the direct lambda_1. A
// rank that does not exist (E(1) is NaN) is null, and so are the figures
// relative to a lambda_1 or a gap of 0.
void append_accuracy(TextStore& out, const E1Accuracy& a) {
  namespace key = schema::accuracy_key;
  append_object(out, {{key::lambda_1, Number{a.lambda_1}},
                      {key::difference, Number{a.difference}},
                      {key::norm_2, Number{a.norm_2}},
                      {key::relative, Number{a.relative}},
                      {key::nearest_rank, a.nearest_rank > 0 ? Value(Integer{a.nearest_rank}) : Value(Literal{"null"})},
                      {key::relative_lambda_1, quotient(a.relative_lambda_1, a.lambda_1)},
                      {key::gap, Number{a.gap}},
                      {key::relative_gap, quotient(a.relative_gap, a.gap)}});
}

constexpr std::string_view state_magic = "blockeig results state";
// What closes the sweeps of a document that is still running.
constexpr std::string_view sweeps_end = "\n ]";
constexpr FixedText running_state = state_member(schema::state_word::running);
constexpr FixedText finished_state = state_member(schema::state_word::finished);
constexpr FixedText failed_state = state_member(schema::state_word::failed);
constexpr FixedText stopped_state = state_member(schema::state_word::stopped);
constexpr FixedText sweep_in_progress_key{",\n \"", schema::key::sweep_in_progress, "\": "};
constexpr std::string_view document_end = "\n}\n";

// The first line of a state: "blockeig results state FORMAT SWEEPS N
// BODY_BYTES WRITING_SECONDS".
struct StateLine {
  std::int64_t format = 0, sweeps = 0, count = 0, body_bytes = 0;
  double writing_seconds = 0;
};

bool parse_state_line(std::string_view line, StateLine& fields) {
  if (!line.starts_with(state_magic)) return false;
  const char* p = line.data() + state_magic.size();
  const char* const last = line.data() + line.size();
  for (std::int64_t* field : {&fields.format, &fields.sweeps, &fields.count, &fields.body_bytes}) {
    if (p == last || *p != ' ') return false;
    const auto [next, error] = std::from_chars(p + 1, last, *field);
    if (error != std::errc() || *field < 0) return false;
    p = next;
  }
  if (p == last || *p != ' ') return false;
  const auto [next, error] = std::from_chars(p + 1, last, fields.writing_seconds);
  return error == std::errc() && next == last && std::isfinite(fields.writing_seconds) &&
         fields.writing_seconds >= 0 && fields.format == format_version;
}

}  // namespace

ResultsStateCheck::ResultsStateCheck(std::int32_t ITER, std::int32_t N) : ITER_(ITER), N_(N) {}

std::uint64_t ResultsStateCheck::most_bytes(std::int32_t ITER, std::int32_t N, std::int32_t NBLOCKS) {
  // Every number with the ", " before it; everything but the numbers, the
  // layout and the sweeps (the header, the matrix's name escaped six bytes a
  // byte, the keys) within document_room; a block's entry in the layout
  // within block_room, a sweep's keys and brackets within sweep_room.
  constexpr std::uint64_t number = number_room + 2;
  constexpr std::uint64_t document_room = 64 * 1024, block_room = 128, sweep_room = 512;
  const std::uint64_t n = static_cast<std::uint64_t>(N), blocks = static_cast<std::uint64_t>(NBLOCKS);
  const std::uint64_t sweep = sweep_room + 4 * blocks + (n + 6) * number;
  return Line::capacity + 1 + 8 * n + document_room + n * number + blocks * block_room +
         static_cast<std::uint64_t>(ITER) * sweep;
}

void ResultsStateCheck::feed(std::string_view bytes) {
  while (!bytes.empty() && !broken_) {
    if (!line_done_) {
      const auto step = line_.take(bytes);
      if (step == Line::Step::more) return;
      StateLine fields;
      line_done_ = true;
      broken_ = step == Line::Step::too_long || !parse_state_line(line_.line(), fields) || fields.sweeps != ITER_ ||
                fields.count != N_;
      eigenvalue_bytes_ = static_cast<std::uint64_t>(fields.count) * sizeof(double);
      body_bytes_ = static_cast<std::uint64_t>(fields.body_bytes);
      continue;
    }
    if (eigenvalue_bytes_ > 0) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(eigenvalue_bytes_, bytes.size()));
      eigenvalue_bytes_ -= n;
      bytes.remove_prefix(n);
      continue;
    }
    if (bytes.size() > body_bytes_) {
      broken_ = true;
      return;
    }
    body_bytes_ -= bytes.size();
    body_.feed(bytes);
    return;
  }
}

bool ResultsStateCheck::finish() {
  // The document's end closes the sweeps, so they are the array left open.
  if (broken_ || !line_done_ || eigenvalue_bytes_ > 0 || body_bytes_ > 0 || !body_.in_counted_array()) return false;
  for (const std::string_view end : {sweeps_end, std::string_view(running_state), document_end}) body_.feed(end);
  return body_.finish() && body_.counted() == static_cast<std::uint64_t>(ITER_);
}

ResultsFile::ResultsFile(std::string path) : replacement_(std::move(path)) {
  for (TextStore* store : {&body_, &sweep_, &end_, &direct_eigenvalues_})
    if (const int error = store->open(); error != 0 && lost_ == 0) lost_ = error;
}

void ResultsFile::settle(TextStore& store) {
  const int error = lost_ != 0 ? lost_.load() : store.commit();
  if (error == 0) return;
  store.discard();
  lost_ = error;
}

void ResultsFile::begin(std::string_view version, int threads, std::string_view byte_order) {
  body_.clear();
  body_.append("{");
  append_members(body_, "\n ", {{schema::key::format, Integer{format_version}}});
  append_key(body_, ",\n ", schema::key::program);
  append_object(body_, {{schema::program_key::name, Text{schema::program_name}},
                        {schema::program_key::version, Text{version}},
                        {schema::program_key::arithmetic, Text{extended_arithmetic}},
                        {schema::program_key::kernels, Text{kernels::in_use()}}});
  append_key(body_, ",\n ", schema::key::settings);
  append_object(body_, {{schema::settings_key::threads, Integer{threads}},
                        {schema::settings_key::byte_order, Text{byte_order}}});
  settle(body_);
  stage_ = Stage::begun;
}

void ResultsFile::input(std::string_view path, std::int32_t N, std::int64_t file_bytes,
                        std::string_view matrix_sha256, double seconds) {
  append_key(body_, ",\n ", schema::key::input);
  append_object(body_, {{schema::input_key::path, Text{path}},
                        {schema::input_key::N, Integer{N}},
                        {schema::input_key::bytes, Integer{file_bytes}},
                        {schema::input_key::matrix_sha256, Text{matrix_sha256}},
                        {schema::common_key::seconds, Number{seconds}}});
  settle(body_);
  stage_ = Stage::input;
}

void ResultsFile::direct(std::int32_t IERR, std::span<const double> E, double seconds) {
  direct_eigenvalues_.clear();
  direct_eigenvalues_.append({reinterpret_cast<const char*>(E.data()), E.size_bytes()});
  settle(direct_eigenvalues_);
  append_key(body_, ",\n ", schema::key::direct);
  append_object(body_, {{schema::direct_key::IERR, Integer{IERR}},
                        {schema::common_key::seconds, Number{seconds}},
                        {schema::direct_key::eigenvalues, Numbers{E}, ",\n  "}});
  settle(body_);
  stage_ = Stage::direct;
}

void ResultsFile::layout(std::int32_t NBLOCKS, const run::SweepRule& rule, std::span<const std::int32_t> BDIM,
                         std::span<const std::int32_t> BSTART) {
  max_sweeps_ = rule.max_sweeps;
  append_key(body_, ",\n ", schema::key::blocks);
  append_members(body_, "{",
                 {{schema::blocks_key::NBLOCKS, Integer{NBLOCKS}},
                  {schema::blocks_key::TOL, Number{rule.TOL}},
                  {schema::blocks_key::max_sweeps, Integer{rule.max_sweeps}}});
  append_key(body_, ", ", schema::blocks_key::layout);
  body_.append("[");
  for (std::size_t b = 0; b < BDIM.size(); ++b) {
    body_.append(b == 0 ? "\n  " : ",\n  ");
    append_object(body_, {{schema::layout_key::block, Integer{static_cast<std::int64_t>(b) + 1}},
                          {schema::layout_key::dimension, Integer{BDIM[b]}},
                          {schema::layout_key::start, Integer{BSTART[b]}},
                          {schema::layout_key::end, Integer{std::int64_t{BSTART[b]} + BDIM[b] - 1}}});
  }
  append_key(body_, "]},\n ", schema::key::sweeps);
  body_.append("[");
  settle(body_);
  stage_ = Stage::laid_out;
}

void ResultsFile::block(std::int32_t IB, std::span<const double> W) {
  if (IB == 1) {
    sweep_.clear();
    append_members(sweep_, "\n  {", {{schema::sweep_key::ITER, Integer{sweeps_ + 1}}});
    append_key(sweep_, ", ", schema::sweep_key::W);
    sweep_.append("[");
  } else {
    sweep_.append(", ");
  }
  append_numbers(sweep_, W);
  settle(sweep_);
}

void ResultsFile::sweep(std::int32_t ITER, std::span<const double> E, double DELTA, double seconds) {
  const std::size_t N = E.size();
  if (sweeps_ > 0) body_.append(",");
  body_.append_from(sweep_, 0, sweep_.size());
  append_members(body_, "], ", {{schema::sweep_key::E1, Number{E[0]}},
                                {schema::sweep_key::E2, Number{E[1]}},
                                {schema::sweep_key::EN1, Number{E[N - 2]}},
                                {schema::sweep_key::EN, Number{E[N - 1]}},
                                {schema::sweep_key::DELTA, Number{DELTA}},
                                {schema::common_key::seconds, Number{seconds}}});
  body_.append("}");
  settle(body_);
  sweep_.clear();
  sweeps_ = ITER;
}

template <typename Visit>
void ResultsFile::for_each_direct_eigenvalue(Visit&& visit) {
  double piece[512];
  const std::size_t count = direct_eigenvalues_.size() / sizeof(double);
  for (std::size_t k = 0; k < count; k += std::size(piece)) {
    const std::size_t n = std::min(std::size(piece), count - k);
    if (const int error = direct_eigenvalues_.read(k * sizeof(double), piece, n * sizeof(double)); error != 0) {
      if (lost_ == 0) lost_ = error;
      return;
    }
    for (std::size_t i = 0; i < n; ++i) visit(piece[i]);
  }
}

void ResultsFile::end(std::int32_t ITER, double DELTA, double TOL, std::span<const double> E,
                      double block_seconds) {
  end_.clear();
  append_key(end_, ",\n ", schema::key::end);
  // "converged" is kept for the readers that know it; "settled" says what
  // it means, and "accuracy" what it does not.
  const std::string_view settled = DELTA <= TOL ? "true" : "false";
  append_members(end_, "{", {{schema::end_key::converged, Literal{settled}},
                             {schema::end_key::settled, Literal{settled}},
                             {schema::end_key::sweeps, Integer{ITER}},
                             {schema::end_key::TOL, Number{TOL}}});
  append_key(end_, ",\n  ", schema::end_key::accuracy);
  append_accuracy(end_, e1_accuracy_of(E[0], [this](auto&& visit) { for_each_direct_eigenvalue(visit); }));
  append_members(end_, ", ", {{schema::common_key::seconds, Number{block_seconds}},
                             {schema::end_key::results_seconds, Number{writing_seconds_}},
                             {schema::end_key::E, Numbers{E}, ",\n  "}});
  append_key(end_, ",\n  ", schema::end_key::by_rank);
  end_.append("[");
  const std::unique_ptr<std::uint32_t[]> order = positions_by_rank(E);
  if (!order && lost_ == 0) lost_ = ENOMEM;
  // The direct eigenvalues are read back in rank order, a piece at a time.
  double direct[512];
  const std::size_t pairs = order ? std::min<std::size_t>(E.size(), direct_eigenvalues_.size() / sizeof(double)) : 0;
  for (std::size_t k = 0; k < pairs; ++k) {
    const std::size_t at = k % std::size(direct);
    if (at == 0) {
      const std::size_t n = std::min(std::size(direct), pairs - k);
      if (const int error = direct_eigenvalues_.read(k * sizeof(double), direct, n * sizeof(double)); error != 0) {
        if (lost_ == 0) lost_ = error;
        break;
      }
    }
    end_.append(k == 0 ? "\n   " : ",\n   ");
    append_object(end_, {{schema::pair_key::rank, Integer{static_cast<std::int64_t>(k) + 1}},
                         {schema::pair_key::position, Integer{static_cast<std::int64_t>(order[k]) + 1}},
                         {schema::pair_key::direct, Number{direct[at]}},
                         {schema::pair_key::block, Number{E[order[k]]}}});
  }
  end_.append("]}");
  settle(end_);
  stage_ = Stage::ended;
}

int ResultsFile::write() {
  if (lost_ != 0) return lost_;
  const runtime::Piece pieces[] = {body_.text(), stage_ >= Stage::laid_out ? sweeps_end : "",
                                   std::string_view(stage_ == Stage::ended ? finished_state : running_state),
                                   end_.text(), document_end};
  return replacement_.replace(pieces);
}

void ResultsFile::write_failure(std::string_view report, int exit_status) noexcept {
  const auto put = [](std::string_view piece) { failure_text.put(piece); };
  put_key(put, ",\n ", schema::key::failure);
  put("{");
  put_key(put, "", schema::failure_key::exit_status);
  char digits[24];
  put(std::string_view(digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, exit_status).ptr - digits)));
  put_key(put, ", ", schema::failure_key::report);
  put("\"");
  escape_json(report, put);
  put("\"}");
  write_last(failed_state, failure_text.text());
}

void ResultsFile::write_stopped(std::string_view signal) noexcept {
  char section[64];
  std::size_t length = 0;
  const auto put = [&](std::string_view piece) { length += piece.copy(section + length, sizeof section - length); };
  put_key(put, ",\n ", schema::key::stop);
  put("{");
  put_key(put, "", schema::stop_key::signal);
  put("\"");
  put(signal);
  put("\"}");
  write_last(stopped_state, std::string_view(section, length));
}

void ResultsFile::write_last(std::string_view state, std::string_view section) noexcept {
  // A document with a part missing is not written: the file keeps the last
  // whole one.
  if (lost_.load() != 0) return;
  const runtime::Piece sweep = sweep_.text();
  const bool in_sweep = sweep.length > 0;
  const runtime::Piece pieces[] = {body_.text(),
                                   stage_.load() >= Stage::laid_out ? sweeps_end : "",
                                   state,
                                   end_.text(),
                                   in_sweep ? sweep_in_progress_key : std::string_view(),
                                   sweep,
                                   in_sweep ? "]}" : "",
                                   section,
                                   document_end};
  replacement_.replace(pieces);
}

std::string_view ResultsFile::progress() const {
  switch (stage_.load()) {
    case Stage::begun:
    case Stage::input: return "start-up";
    case Stage::direct: return "the direct phase";
    case Stage::laid_out: {
      if (sweeps_ == 0) return "the block table";
      MessageText text;
      text << "sweep " << sweeps_;
      return {progress_, text.view().copy(progress_, sizeof progress_)};
    }
    case Stage::ended: return "the end of the run";
  }
  return {};
}

// The state: a line "blockeig results state FORMAT SWEEPS N BODY_BYTES
// WRITING_SECONDS", the N direct eigenvalues as 8-byte doubles in this
// machine's order, then the document's body.
ResultsFile::State ResultsFile::save_state() const {
  State state;
  MessageText line;
  line << state_magic;
  for (const std::uint64_t field : {std::uint64_t{format_version}, static_cast<std::uint64_t>(sweeps_),
                                    direct_eigenvalues_.size() / sizeof(double), body_.size()})
    line << " " << field;
  char seconds[number_room];
  line << " " << std::string_view(seconds, format_number(writing_seconds_, seconds)) << "\n";
  state.line_length_ = line.view().copy(state.line_, sizeof state.line_);
  state.eigenvalues_ = direct_eigenvalues_.text();
  state.body_ = body_.text();
  state.error_ = lost_;
  return state;
}

bool ResultsFile::restore_state(const TextStore& state) {
  char first[sizeof State::line_];
  const std::size_t head = static_cast<std::size_t>(std::min<std::uint64_t>(state.size(), sizeof first));
  if (stage_ != Stage::laid_out || state.read(0, first, head) != 0) return false;
  const std::string_view text(first, head);
  const std::size_t line_end = text.find('\n');
  StateLine fields;
  if (line_end == std::string_view::npos || !parse_state_line(text.substr(0, line_end), fields)) return false;
  const std::uint64_t eigenvalue_bytes = static_cast<std::uint64_t>(fields.count) * sizeof(double);
  if (fields.sweeps < 1 || fields.sweeps >= max_sweeps_ || eigenvalue_bytes != direct_eigenvalues_.size() ||
      state.size() != line_end + 1 + eigenvalue_bytes + static_cast<std::uint64_t>(fields.body_bytes))
    return false;
  direct_eigenvalues_.clear();
  direct_eigenvalues_.append_from(state, line_end + 1, eigenvalue_bytes);
  settle(direct_eigenvalues_);
  body_.clear();
  body_.append_from(state, line_end + 1 + eigenvalue_bytes, static_cast<std::uint64_t>(fields.body_bytes));
  settle(body_);
  sweep_.clear();
  sweeps_ = static_cast<std::int32_t>(fields.sweeps);
  writing_seconds_ = fields.writing_seconds;
  return true;
}

}  // namespace blockeig
