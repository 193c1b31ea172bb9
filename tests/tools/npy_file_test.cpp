#include "tools/npy_file.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <string>

#include "tools/tool_error.hpp"

namespace scrtool {
namespace {

// Builds an .npy file the way NumPy lays it out: magic, version, header
// length, the dictionary padded with blanks to a multiple of 64 bytes and
// ended by a line feed, then the raw elements.
Bytes npy_file(const std::string& descr, bool fortran, const std::string& shape, const Bytes& data, int major = 1) {
  std::string header = "{'descr': '" + descr + "', 'fortran_order': " + (fortran ? "True" : "False") +
                       ", 'shape': " + shape + ", }";
  const std::size_t prefix = major == 1 ? 10 : 12;
  header.append((prefix + header.size() + 1 + 63) / 64 * 64 - prefix - header.size() - 1, ' ');
  header += '\n';
  Bytes out = {0x93, 'N', 'U', 'M', 'P', 'Y', static_cast<std::uint8_t>(major), 0};
  for (std::size_t k = 0; k < prefix - 8; ++k) out.push_back(static_cast<std::uint8_t>(header.size() >> (8 * k)));
  out.insert(out.end(), header.begin(), header.end());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// The elements 1, 2, 3, 4 in a given storage type and byte order.
Bytes elements(const std::string& type, ByteOrder order, std::initializer_list<double> values) {
  Bytes out;
  for (double v : values) {
    std::uint8_t b[8];
    std::size_t size = 8;
    if (type == "f8") encode_double(v, order, b);
    if (type == "f4") encode_int32(std::bit_cast<std::int32_t>(static_cast<float>(v)), order, b), size = 4;
    if (type == "i4") encode_int32(static_cast<std::int32_t>(v), order, b), size = 4;
    if (type == "i8") {
      const auto x = static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
      const std::int32_t lo = static_cast<std::int32_t>(x), hi = static_cast<std::int32_t>(x >> 32);
      encode_int32(order == ByteOrder::little ? lo : hi, order, b);
      encode_int32(order == ByteOrder::little ? hi : lo, order, b + 4);
    }
    out.insert(out.end(), b, b + size);
  }
  return out;
}

// Every supported dtype, both byte orders, both memory orders: the matrix
// [[1, 2], [3, -4]] (rows), so column by column 1, 3, 2, -4.
TEST(Npy, EveryDtypeByteOrderAndMemoryOrder) {
  for (const char* type : {"f8", "f4", "i4", "i8"})
    for (ByteOrder order : {ByteOrder::little, ByteOrder::big})
      for (bool fortran : {false, true}) {
        const std::string descr = std::string(order == ByteOrder::little ? "<" : ">") + type;
        SCOPED_TRACE(descr + (fortran ? " F" : " C"));
        const Bytes data = fortran ? elements(type, order, {1, 3, 2, -4}) : elements(type, order, {1, 2, 3, -4});
        const Matrix m = read_npy(npy_file(descr, fortran, "(2, 2)", data), "a.npy");
        EXPECT_EQ(m.a, (std::vector<double>{1, 3, 2, -4}));
      }
}

TEST(Npy, VersionsTwoAndThree) {
  for (int major : {2, 3}) {
    const Matrix m = read_npy(npy_file("<f8", false, "(2, 2)", elements("f8", ByteOrder::little, {1, 2, 3, 4}), major), "a.npy");
    EXPECT_EQ(m.a, (std::vector<double>{1, 3, 2, 4}));
  }
}

TEST(Npy, WrittenFileReadsBack) {
  Matrix m(3);
  for (std::size_t k = 0; k < m.a.size(); ++k) m.a[k] = 0.1 * static_cast<double>(k) - 0.3;
  Bytes file;
  emit_npy(m, [&file](std::span<const std::uint8_t> piece) { file.insert(file.end(), piece.begin(), piece.end()); });
  EXPECT_EQ(file.size(), 128u + 72u);
  EXPECT_EQ(std::string(file.begin() + 10, file.begin() + 70),
            "{'descr': '<f8', 'fortran_order': False, 'shape': (3, 3), } ");
  EXPECT_EQ(file[127], '\n');
  EXPECT_EQ(read_npy(file, "a.npy").a, m.a);
}

TEST(Npy, MalformedFilesNameTheByte) {
  const Bytes four = elements("f8", ByteOrder::little, {1, 2, 3, 4});
  Bytes bad_version = npy_file("<f8", false, "(2, 2)", four);
  bad_version[6] = 4;
  Bytes long_header = npy_file("<f8", false, "(2, 2)", {});
  long_header[8] = 0xff;
  long_header[9] = 0xff;
  struct Case {
    const char* name;
    Bytes file;
    const char* message;
  };
  const Case cases[] = {
      {"not npy", {'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0, 0, 0}, "a.npy: byte 0: not a NumPy .npy file"},
      {"version", bad_version, "a.npy: byte 6: unsupported .npy format version 4"},
      {"header length", long_header, "a.npy: byte 8: the header length 65535 runs past the end of the file"},
      {"complex", npy_file("<c16", false, "(2, 2)", four), "a.npy: byte 10: dtype '<c16' is not supported"},
      {"native order", npy_file("=f8", false, "(2, 2)", four), "a.npy: byte 10: dtype '=f8' is not supported"},
      {"one dimension", npy_file("<f8", false, "(4,)", four), "a.npy: byte 10: shape (4,) is not a two-dimensional"},
      {"not square", npy_file("<f8", false, "(1, 4)", four), "a.npy: byte 10: the matrix is not square: shape (1, 4)"},
      {"order 1", npy_file("<f8", false, "(1, 1)", elements("f8", ByteOrder::little, {1})),
       "a.npy: byte 10: order 1 is below 2"},
      {"short data", npy_file("<f8", false, "(2, 2)", Bytes(four.begin(), four.end() - 1)),
       "a.npy: byte 159: the file ends inside the array data: shape (2, 2) of '<f8' needs 32 bytes from byte 128, the "
       "file holds 31"},
      {"trailing data", npy_file("<f8", false, "(2, 2)", elements("f8", ByteOrder::little, {1, 2, 3, 4, 5})),
       "a.npy: byte 160: 8 bytes follow the array data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      read_npy(c.file, "a.npy");
      ADD_FAILURE() << "accepted";
    } catch (const ToolError& e) {
      EXPECT_TRUE(std::string(e.what()).starts_with(c.message)) << e.what();
    }
  }
}

TEST(Npy, MalformedHeaderDictionary) {
  struct Case {
    std::string header;
    const char* message;
  };
  const Case cases[] = {
      {"{'descr': '<f8', 'fortran_order': Maybe, 'shape': (2, 2), }", "a.npy: byte 44: 'fortran_order' must be True"},
      {"{'descr': '<f8', 'shape': (2, 2), }", "has no 'fortran_order'"},
      {"{'descr': [('a', '<f8')], 'fortran_order': False, 'shape': (2, 2), }", "structured arrays are not supported"},
      {"{'descr': '<f8', 'fortran_order': False, 'shape': (2, x), }", "expected a dimension in 'shape'"},
      {"{'descr': '<f8', 'fortran_order': False, 'shape': (2, 2), 'extra': 1}", "unexpected key 'extra'"},
      {"['descr']", "a.npy: byte 10: expected '{' in the header"},
      {"{'descr: '<f8'}", "expected ':' in the header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    std::string header = c.header + "\n";
    Bytes file = {0x93, 'N', 'U', 'M', 'P', 'Y', 1, 0, static_cast<std::uint8_t>(header.size()), 0};
    file.insert(file.end(), header.begin(), header.end());
    try {
      read_npy(file, "a.npy");
      ADD_FAILURE() << "accepted";
    } catch (const ToolError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace scrtool
