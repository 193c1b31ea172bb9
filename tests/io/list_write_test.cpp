#include "io/list_write.hpp"

#include <gtest/gtest.h>

#include <string>

namespace blockeig::io {
namespace {

std::string list_record(std::initializer_list<Item> items) {
  std::string record;
  const ListWriteResult result = build_list_record(items, record);
  EXPECT_TRUE(result.ok()) << result.error;
  return record;
}

TEST(ListWrite, ProgramRecords) {
  const std::int32_t n = 5, minus_three = -3, ierr = 0;
  EXPECT_EQ(list_record({"N = ", n}), " N =  5");
  EXPECT_EQ(list_record({"N = ", minus_three}), " N =  -3");
  EXPECT_EQ(list_record({"allocated"}), " allocated");
  EXPECT_EQ(list_record({"diagonalized - direct, IERR: ", ierr}), " diagonalized - direct, IERR:  0");
  EXPECT_EQ(list_record({"Number of blocks:"}), " Number of blocks:");
  EXPECT_EQ(list_record({"block  dimension start  end"}), " block  dimension start  end");
  EXPECT_EQ(list_record({2, 5, 6, 10}), " 2 5 6 10");
}

TEST(ListWrite, ItemsAsTheyAre) {
  EXPECT_EQ(list_record({-2147483647 - 1, 2147483647}), " -2147483648 2147483647");
  EXPECT_EQ(list_record({"", ""}), "  ");
  EXPECT_EQ(list_record({"  a  ", 0}), "   a   0");
  EXPECT_EQ(list_record({}), "");
}

TEST(ListWrite, RealsAreRejected) {
  std::string record = "old";
  const Item items[] = {"x", 1.5};
  const ListWriteResult result = build_list_record(items, record);
  EXPECT_EQ(result.error, "List-directed output of a REAL item is not supported (item 2)");
  EXPECT_EQ(record, "");
}

}  // namespace
}  // namespace blockeig::io
