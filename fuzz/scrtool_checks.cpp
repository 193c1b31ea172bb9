#include "scrtool_checks.hpp"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "tools/matrix_market.hpp"
#include "tools/npy_file.hpp"
#include "tools/record_codec.hpp"
#include "tools/scr_file.hpp"
#include "tools/text_matrix.hpp"
#include "tools/text_scan.hpp"

// Every form of operator new and delete is replaced, so that no block
// crosses between these and the sanitizer's own.
namespace {

void* allocate(std::size_t size, std::size_t alignment) {
  if (size > blockeig::fuzz::allocation_cap) return nullptr;
  if (size == 0) size = 1;
  if (alignment <= alignof(std::max_align_t)) return std::malloc(size);
  return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}

void* allocate_or_throw(std::size_t size, std::size_t alignment) {
  if (void* p = allocate(size, alignment)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t n) { return allocate_or_throw(n, 0); }
void* operator new[](std::size_t n) { return allocate_or_throw(n, 0); }
void* operator new(std::size_t n, std::align_val_t a) { return allocate_or_throw(n, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocate_or_throw(n, static_cast<std::size_t>(a)); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n, 0); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n, 0); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(n, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

namespace blockeig::fuzz {

namespace {

using scrtool::Matrix;

constexpr std::int32_t largest_round_trip_order = 100;

std::string collect(void (*emit)(const Matrix&, const scrtool::ByteSink&), const Matrix& m) {
  std::string out;
  emit(m, [&out](std::span<const std::uint8_t> piece) { out.append(piece.begin(), piece.end()); });
  return out;
}

std::span<const std::uint8_t> bytes_of(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

void expect_same_bits(const Matrix& want, const Matrix& got, const char* path, const std::string& text) {
  if (want.n != got.n || want.a.size() != got.a.size() ||
      std::memcmp(want.a.data(), got.a.data(), 8 * want.a.size()) != 0)
    scrtool_finding(path, text);
}

template <class Read>
Matrix read_back(Read read, const std::string& text, const char* path) {
  try {
    return read();
  } catch (const scrtool::ToolError& e) {
    scrtool_finding(path, std::string(e.what()) + "\n--- written ---\n" + text);
  }
}

}  // namespace

void scrtool_finding(const char* what, std::string_view detail) {
  std::fprintf(stderr, "scrtool finding: %s\n%.*s\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

void check_refusal(const scrtool::ToolError& error, std::string_view name) {
  const std::string message = error.what();
  if (!message.starts_with(std::string(name) + ":")) scrtool_finding("a message that does not name the file", message);
  if (message.find('\n') != std::string::npos) scrtool_finding("a message of more than one line", message);
  if (scrtool::printable(message) != message) scrtool_finding("a message with bytes that cannot be shown", message);
}

void check_round_trip(const Matrix& m) {
  if (m.n > largest_round_trip_order) return;
  for (const scrtool::ByteOrder order : {scrtool::ByteOrder::little, scrtool::ByteOrder::big}) {
    const scrtool::Bytes scr = scrtool::encode_scr(m, order);
    const scrtool::MemorySource source(scr);
    const std::string text(scr.begin(), scr.end());
    expect_same_bits(m, read_back([&] { return scrtool::read_scr(source, order); }, text, "A.SCR"), "A.SCR", text);
  }
  const std::string mtx = collect(scrtool::emit_matrix_market, m);
  expect_same_bits(m, read_back([&] { return scrtool::read_matrix_market(mtx, "x.mtx"); }, mtx, "export .mtx"),
                   "export .mtx", mtx);
  const std::string npy = collect(scrtool::emit_npy, m);
  expect_same_bits(m, read_back([&] { return scrtool::read_npy(bytes_of(npy), "x.npy"); }, npy, "export .npy"),
                   "export .npy", npy);
  const std::string txt = collect(scrtool::emit_text_matrix, m);
  expect_same_bits(m, read_back([&] { return scrtool::read_text_matrix(txt, "x.txt"); }, txt, "export .txt"),
                   "export .txt", txt);
}

}  // namespace blockeig::fuzz
