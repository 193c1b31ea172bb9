#include "tools/record_codec.hpp"

#include <gtest/gtest.h>

#include "tools/scr_file.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {
namespace {

Bytes bytes(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

TEST(RecordCodec, ScalarsInBothByteOrders) {
  std::uint8_t buffer[8];
  encode_int32(0x01020304, ByteOrder::little, buffer);
  EXPECT_EQ(Bytes(buffer, buffer + 4), bytes({4, 3, 2, 1}));
  EXPECT_EQ(decode_int32(buffer, ByteOrder::little), 0x01020304);
  EXPECT_EQ(decode_int32(buffer, ByteOrder::big), 0x04030201);
  encode_int32(-2, ByteOrder::big, buffer);
  EXPECT_EQ(Bytes(buffer, buffer + 4), bytes({0xff, 0xff, 0xff, 0xfe}));
  encode_double(1.0, ByteOrder::little, buffer);
  EXPECT_EQ(Bytes(buffer, buffer + 8), bytes({0, 0, 0, 0, 0, 0, 0xf0, 0x3f}));
  EXPECT_EQ(decode_double(buffer, ByteOrder::little), 1.0);
  encode_double(1.0, ByteOrder::big, buffer);
  EXPECT_EQ(Bytes(buffer, buffer + 8), bytes({0x3f, 0xf0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(decode_int64(bytes({0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}).data(), ByteOrder::little), -2);
}

// The well-formed 52-byte file of order 2 that blockeig reads.
TEST(RecordCodec, OrderTwoFileLayout) {
  Matrix m(2);
  m.a = {1.0, 0.0, 0.0, 1.0};
  const Bytes file = encode_scr(m, ByteOrder::little);
  ASSERT_EQ(file.size(), 52u);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 16), bytes({4, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 0x20, 0, 0, 0}));
  EXPECT_EQ(Bytes(file.begin() + 16, file.begin() + 24), bytes({0, 0, 0, 0, 0, 0, 0xf0, 0x3f}));
  EXPECT_EQ(Bytes(file.begin() + 48, file.end()), bytes({0x20, 0, 0, 0}));
}

TEST(RecordCodec, FramingOfDamagedFiles) {
  struct Case {
    const char* name;
    Bytes file;
    Framing framing;
    std::int32_t length;
  };
  const Case cases[] = {
      {"empty", {}, Framing::end_of_file, 0},
      {"three bytes", bytes({4, 0, 0}), Framing::partial_marker, 0},
      {"negative marker", bytes({0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0}), Framing::negative_length, -1},
      {"marker above the limit", bytes({0x01, 0xca, 0x9a, 0x3b}), Framing::over_limit, 1'000'000'001},
      {"marker at the limit, file short", bytes({0x00, 0xca, 0x9a, 0x3b}), Framing::truncated, 1'000'000'000},
      {"ends inside the data", bytes({4, 0, 0, 0, 1, 2}), Framing::truncated, 4},
      {"ends inside the trailing marker", bytes({1, 0, 0, 0, 9, 1, 0}), Framing::truncated, 1},
      {"empty record", bytes({0, 0, 0, 0, 0, 0, 0, 0}), Framing::complete, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const MemorySource source(c.file);
    const RecordFrame frame = frame_record(source, 0, ByteOrder::little);
    EXPECT_EQ(frame.framing, c.framing);
    if (c.framing != Framing::end_of_file && c.framing != Framing::partial_marker) {
      EXPECT_EQ(frame.length, c.length);
    }
  }
}

TEST(RecordCodec, TrailingMarkerMismatchIsFramedAndReported) {
  const Bytes file = bytes({1, 0, 0, 0, 7, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 5});
  const MemorySource source(file);
  const std::vector<RecordFrame> frames = frame_records(source, ByteOrder::little);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].framing, Framing::complete);
  EXPECT_FALSE(frames[0].trailing_matches());
  EXPECT_EQ(frames[0].trailing, 2);
  EXPECT_EQ(frames[1].framing, Framing::complete);
  EXPECT_EQ(frames[1].offset, 9);
  EXPECT_EQ(frames[2].framing, Framing::partial_marker);
}

TEST(RecordCodec, RecordLengthLimit) {
  EXPECT_EQ(record_length_for(1'000'000'000), 1'000'000'000);
  EXPECT_THROW(record_length_for(1'000'000'001), ToolError);
  Bytes file;
  append_record(file, bytes({9}), ByteOrder::big);
  EXPECT_EQ(file, bytes({0, 0, 0, 1, 9, 0, 0, 0, 1}));
}

TEST(RecordCodec, ByteOrderDetection) {
  Matrix m(3);
  for (std::size_t k = 0; k < m.a.size(); ++k) m.a[k] = static_cast<double>(k);
  const Bytes little = encode_scr(m, ByteOrder::little);
  const Bytes big = encode_scr(m, ByteOrder::big);
  EXPECT_EQ(detect_byte_order(MemorySource(little)).order, ByteOrder::little);
  EXPECT_TRUE(detect_byte_order(MemorySource(little)).certain);
  EXPECT_EQ(detect_byte_order(MemorySource(big)).order, ByteOrder::big);
  EXPECT_TRUE(detect_byte_order(MemorySource(big)).certain);
  EXPECT_FALSE(detect_byte_order(MemorySource(bytes({1, 2, 3}))).certain);
  EXPECT_EQ(read_scr(MemorySource(big), ByteOrder::big).a, m.a);
}

}  // namespace
}  // namespace scrtool
