#include "records/results_file.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numeric>

#include "eigen/extended.hpp"

namespace blockeig {

namespace {

constexpr int format_version = 1;

// Longest shortest-form double: "-2.2250738585072014e-308" has 24
// characters; 32 leave room for the ".0" added below.
constexpr std::size_t number_room = 32;

// A double as the shortest decimal that reads back to the same bits, always
// with a fraction or an exponent so that every JSON reader takes it for a
// floating-point number (and keeps -0.0). JSON has no NaN or infinity:
// those are the strings "NaN", "Infinity" and "-Infinity".
std::size_t format_number(double value, char* out) {
  if (std::isnan(value)) return std::string_view("\"NaN\"").copy(out, 5);
  if (std::isinf(value)) {
    const std::string_view text = value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    return text.copy(out, text.size());
  }
  char* end = std::to_chars(out, out + number_room, value).ptr;
  if (std::find_if(out, end, [](char c) { return c == '.' || c == 'e'; }) == end) end = std::copy_n(".0", 2, end);
  return static_cast<std::size_t>(end - out);
}

void append_number(std::string& out, double value) {
  char text[number_room];
  out.append(text, format_number(value, text));
}

void append_integer(std::string& out, std::int64_t value) {
  char text[24];
  out.append(text, static_cast<std::size_t>(std::to_chars(text, text + sizeof text, value).ptr - text));
}

void append_numbers(std::string& out, std::span<const double> values) {
  out += '[';
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (k > 0) out += ", ";
    append_number(out, values[k]);
  }
  out += ']';
}

// The length of the valid UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8_length(std::string_view s) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(0);
  std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                                                      : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length == 0 || length > s.size()) return 0;
  for (std::size_t k = 1; k < length; ++k)
    if ((byte(k) & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and code points beyond U+10FFFF.
  if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) > 0x9F) || (lead == 0xF0 && byte(1) < 0x90) ||
      (lead == 0xF4 && byte(1) > 0x8F))
    return 0;
  return length;
}

// A JSON string body: quote, backslash and control characters escaped, a
// byte that is not valid UTF-8 (a file name may hold one) replaced by
// U+FFFD. `put` takes the output piece by piece; nothing here allocates.
template <typename Put>
void escape_json(std::string_view text, Put&& put) {
  while (!text.empty()) {
    const unsigned char c = static_cast<unsigned char>(text[0]);
    const std::size_t length = utf8_length(text);
    if (c == '"' || c == '\\') {
      const char escaped[2] = {'\\', static_cast<char>(c)};
      put(std::string_view(escaped, 2));
    } else if (c == '\n') {
      put("\\n");
    } else if (c < 0x20) {
      const char escaped[6] = {'\\', 'u', '0', '0', "0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
      put(std::string_view(escaped, 6));
    } else if (length == 0) {
      put("\\ufffd");
    } else {
      put(text.substr(0, length));
      text.remove_prefix(length);
      continue;
    }
    text.remove_prefix(1);
  }
}

void append_string(std::string& out, std::string_view text) {
  out += '"';
  escape_json(text, [&](std::string_view piece) { out += piece; });
  out += '"';
}

// The failure section, assembled without allocating: the report is at most
// 4096 bytes, and no byte escapes to more than six.
class FailureText {
 public:
  void put(std::string_view piece) {
    const std::size_t n = std::min(piece.size(), sizeof buffer_ - length_);
    std::memcpy(buffer_ + length_, piece.data(), n);
    length_ += n;
  }
  std::string_view text() const { return {buffer_, length_}; }

 private:
  char buffer_[6 * 4096 + 128];
  std::size_t length_ = 0;
};

FailureText failure_text;

// Positions 1..N ordered by their final value, NaN last, equal values in
// position order.
std::vector<std::size_t> positions_by_rank(std::span<const double> E) {
  std::vector<std::size_t> order(E.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (std::isnan(E[a]) || std::isnan(E[b])) return !std::isnan(E[a]) && std::isnan(E[b]);
    return E[a] < E[b];
  });
  return order;
}

constexpr std::string_view state_magic = "blockeig results state";

}  // namespace

PublishedText::~PublishedText() { delete[] data_; }

void PublishedText::reserve(std::size_t capacity) {
  char* grown = new char[capacity];
  if (size_ > 0) std::memcpy(grown, data_, size_);
  char* old = data_;
  data_ = grown;
  capacity_ = capacity;
  // The new buffer is published before the old one goes.
  published_data_.store(data_);
  delete[] old;
}

void PublishedText::append(std::string_view text) {
  if (text.empty()) return;
  if (text.size() > capacity_ - size_) reserve(std::max(2 * capacity_, size_ + text.size() + 4096));
  std::memcpy(data_ + size_, text.data(), text.size());
  size_ += text.size();
  published_size_.store(size_);
}

void PublishedText::clear() {
  size_ = 0;
  published_size_.store(0);
}

std::string_view PublishedText::published() const noexcept {
  const std::size_t size = published_size_.load();
  const char* data = published_data_.load();
  return data == nullptr ? std::string_view() : std::string_view(data, size);
}

ResultsFile::ResultsFile(std::string path) : replacement_(std::move(path)) {}

void ResultsFile::begin(std::string_view version, int threads, std::string_view byte_order) {
  std::string text = "{\n \"format\": ";
  append_integer(text, format_version);
  text += ",\n \"program\": {\"name\": \"blockeig\", \"version\": ";
  append_string(text, version);
  text += ", \"arithmetic\": ";
  append_string(text, extended_arithmetic);
  text += "},\n \"settings\": {\"threads\": ";
  append_integer(text, threads);
  text += ", \"byte_order\": ";
  append_string(text, byte_order);
  text += "}";
  body_.clear();
  body_.append(text);
  stage_ = Stage::begun;
}

void ResultsFile::input(std::string_view path, std::int32_t N, std::int64_t file_bytes,
                        std::string_view matrix_sha256, double seconds) {
  std::string text = ",\n \"input\": {\"path\": ";
  append_string(text, path);
  text += ", \"N\": ";
  append_integer(text, N);
  text += ", \"bytes\": ";
  append_integer(text, file_bytes);
  text += ", \"matrix_sha256\": ";
  append_string(text, matrix_sha256);
  text += ", \"seconds\": ";
  append_number(text, seconds);
  text += "}";
  body_.append(text);
  stage_ = Stage::input;
}

void ResultsFile::direct(std::int32_t IERR, std::span<const double> E, double seconds) {
  direct_eigenvalues_.assign(E.begin(), E.end());
  std::string text = ",\n \"direct\": {\"IERR\": ";
  append_integer(text, IERR);
  text += ", \"seconds\": ";
  append_number(text, seconds);
  text += ",\n  \"eigenvalues\": ";
  append_numbers(text, E);
  text += "}";
  body_.append(text);
  stage_ = Stage::direct;
}

void ResultsFile::layout(std::int32_t NBLOCKS, std::span<const std::int32_t> BDIM,
                         std::span<const std::int32_t> BSTART) {
  std::string text = ",\n \"blocks\": {\"NBLOCKS\": ";
  append_integer(text, NBLOCKS);
  text += ", \"layout\": [";
  for (std::size_t b = 0; b < BDIM.size(); ++b) {
    text += b == 0 ? "\n  {\"block\": " : ",\n  {\"block\": ";
    append_integer(text, static_cast<std::int64_t>(b) + 1);
    text += ", \"dimension\": ";
    append_integer(text, BDIM[b]);
    text += ", \"start\": ";
    append_integer(text, BSTART[b]);
    text += ", \"end\": ";
    append_integer(text, std::int64_t{BSTART[b]} + BDIM[b] - 1);
    text += "}";
  }
  text += "]},\n \"sweeps\": [";
  body_.append(text);
  stage_ = Stage::laid_out;
}

void ResultsFile::block(std::int32_t IB, std::span<const double> W) {
  std::string text;
  if (IB == 1) {
    sweep_.clear();
    text = "\n  {\"ITER\": ";
    append_integer(text, sweeps_ + 1);
    text += ", \"W\": [";
  } else {
    text = ", ";
  }
  append_numbers(text, W);
  sweep_.append(text);
}

void ResultsFile::sweep(std::int32_t ITER, std::span<const double> E, double DELTA, double seconds) {
  const std::size_t N = E.size();
  std::string text(sweeps_ > 0 ? "," : "");
  text += sweep_.published();
  text += "], \"E(1)\": ";
  append_number(text, E[0]);
  text += ", \"E(2)\": ";
  append_number(text, E[1]);
  text += ", \"E(N-1)\": ";
  append_number(text, E[N - 2]);
  text += ", \"E(N)\": ";
  append_number(text, E[N - 1]);
  text += ", \"DELTA\": ";
  append_number(text, DELTA);
  text += ", \"seconds\": ";
  append_number(text, seconds);
  text += "}";
  body_.append(text);
  sweep_.clear();
  sweeps_ = ITER;
}

void ResultsFile::end(std::int32_t ITER, double DELTA, double TOL, std::span<const double> E,
                      double block_seconds) {
  std::string text = ",\n \"end\": {\"converged\": ";
  text += DELTA <= TOL ? "true" : "false";
  text += ", \"sweeps\": ";
  append_integer(text, ITER);
  text += ", \"TOL\": ";
  append_number(text, TOL);
  text += ", \"seconds\": ";
  append_number(text, block_seconds);
  text += ", \"results_seconds\": ";
  append_number(text, writing_seconds_);
  text += ",\n  \"E\": ";
  append_numbers(text, E);
  text += ",\n  \"by_rank\": [";
  const std::vector<std::size_t> order = positions_by_rank(E);
  for (std::size_t k = 0; k < order.size() && k < direct_eigenvalues_.size(); ++k) {
    text += k == 0 ? "\n   {\"rank\": " : ",\n   {\"rank\": ";
    append_integer(text, static_cast<std::int64_t>(k) + 1);
    text += ", \"position\": ";
    append_integer(text, static_cast<std::int64_t>(order[k]) + 1);
    text += ", \"direct\": ";
    append_number(text, direct_eigenvalues_[k]);
    text += ", \"block\": ";
    append_number(text, E[order[k]]);
    text += "}";
  }
  text += "]}";
  end_.clear();
  end_.append(text);
  stage_ = Stage::ended;
}

std::string_view ResultsFile::state_word() const { return stage_ == Stage::ended ? "finished" : "running"; }

int ResultsFile::write() {
  const std::string state = ",\n \"state\": \"" + std::string(state_word()) + "\"";
  const std::string_view pieces[] = {body_.published(), stage_ >= Stage::laid_out ? "\n ]" : "", state,
                                     end_.published(), "\n}\n"};
  return replacement_.replace(pieces);
}

void ResultsFile::write_failure(std::string_view report, int exit_status) noexcept {
  const auto put = [](std::string_view piece) { failure_text.put(piece); };
  put(",\n \"failure\": {\"exit_status\": ");
  char digits[24];
  put(std::string_view(digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, exit_status).ptr - digits)));
  put(", \"report\": \"");
  escape_json(report, put);
  put("\"}");
  const std::string_view sweep = sweep_.published();
  const std::string_view pieces[] = {body_.published(),
                                     stage_.load() >= Stage::laid_out ? "\n ]" : "",
                                     ",\n \"state\": \"failed\"",
                                     end_.published(),
                                     sweep.empty() ? "" : ",\n \"sweep_in_progress\": ",
                                     sweep,
                                     sweep.empty() ? "" : "]}",
                                     failure_text.text(),
                                     "\n}\n"};
  replacement_.replace(pieces);
}

std::string ResultsFile::progress() const {
  switch (stage_.load()) {
    case Stage::begun:
    case Stage::input: return "start-up";
    case Stage::direct: return "the direct phase";
    case Stage::laid_out: return sweeps_ == 0 ? "the block table" : "sweep " + std::to_string(sweeps_);
    case Stage::ended: return "the end of the run";
  }
  return {};
}

// The state: a line "blockeig results state FORMAT SWEEPS N BODY_BYTES
// WRITING_SECONDS", the N direct eigenvalues as 8-byte doubles in this
// machine's order, then the document's body.
std::string ResultsFile::save_state() const {
  std::string state(state_magic);
  for (const std::int64_t field : {std::int64_t{format_version}, std::int64_t{sweeps_},
                                   static_cast<std::int64_t>(direct_eigenvalues_.size()),
                                   static_cast<std::int64_t>(body_.published().size())}) {
    state += ' ';
    append_integer(state, field);
  }
  state += ' ';
  append_number(state, writing_seconds_);
  state += '\n';
  if (!direct_eigenvalues_.empty())
    state.append(reinterpret_cast<const char*>(direct_eigenvalues_.data()), direct_eigenvalues_.size() * sizeof(double));
  state += body_.published();
  return state;
}

bool ResultsFile::restore_state(std::string_view state) {
  if (stage_ != Stage::laid_out || !state.starts_with(state_magic)) return false;
  const std::size_t line_end = state.find('\n');
  if (line_end == std::string_view::npos) return false;
  std::int64_t fields[4] = {};
  double writing_seconds = 0;
  const char* p = state.data() + state_magic.size();
  const char* const last = state.data() + line_end;
  for (std::int64_t& field : fields) {
    if (p == last || *p != ' ') return false;
    const auto [next, error] = std::from_chars(p + 1, last, field);
    if (error != std::errc() || field < 0) return false;
    p = next;
  }
  if (p == last || *p != ' ') return false;
  const auto [next, error] = std::from_chars(p + 1, last, writing_seconds);
  if (error != std::errc() || next != last) return false;
  const auto [version, sweeps, count, body_bytes] = fields;
  const std::string_view rest = state.substr(line_end + 1);
  if (version != format_version || sweeps < 1 || sweeps > 1000000 || static_cast<std::size_t>(count) != direct_eigenvalues_.size() ||
      rest.size() != static_cast<std::size_t>(count) * sizeof(double) + static_cast<std::size_t>(body_bytes))
    return false;
  if (!direct_eigenvalues_.empty())
    std::memcpy(direct_eigenvalues_.data(), rest.data(), direct_eigenvalues_.size() * sizeof(double));
  body_.clear();
  body_.append(rest.substr(direct_eigenvalues_.size() * sizeof(double)));
  sweep_.clear();
  sweeps_ = static_cast<std::int32_t>(sweeps);
  writing_seconds_ = writing_seconds;
  return true;
}

}  // namespace blockeig
