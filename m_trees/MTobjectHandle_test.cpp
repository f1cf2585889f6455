#include "m_trees/MTobjectHandle.h"

#include <gtest/gtest.h>

#include "m_trees/MTreeTestSupport_test.h"

namespace simdex {
namespace {

using namespace mtree_testing;

class RecordSizes : public ::testing::TestWithParam<std::pair<VectorClass, int>> {};

TEST_P(RecordSizes, PrototypeRecordSizeIsObjectBytesPlusOid) {
  ActiveBlock block(GetParam().first.clsid);
  EXPECT_EQ(MTobjectHandle::PrototypeRecordSize(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Vectors, RecordSizes,
                         ::testing::Values(std::make_pair(kVectorAClass, 364),
                                           std::make_pair(kVectorBClass, 1156)),
                         [](const auto& p) { return std::string(p.param.first.name); });

TEST(MTobjectHandle, RecordRoundTripsByteForByte) {
  ActiveBlock block;
  std::vector<std::byte> record = Record(Point(45, {1.5, -2.25, 3e-300}), 42);
  // The oid is the little-endian 2A 00 00 00 after the object's bytes.
  ASSERT_EQ(record[360], std::byte{0x2A});
  std::unique_ptr<MTobjectHandle> h;
  ASSERT_TRUE(MTobjectHandle::FromRecord(record, &h).ok());
  EXPECT_EQ(h->Oid(), 42u);
  EXPECT_EQ(h->RecordSize(), 364);
  std::vector<std::byte> written(364);
  h->WriteRecord(written);
  EXPECT_EQ(written, record);
}

TEST(MTobjectHandle, ShortRecordIsCorruption) {
  ActiveBlock block;
  std::vector<std::byte> record = Record(Point(45, {1}), 7);
  record.resize(363);
  std::unique_ptr<MTobjectHandle> h;
  Status s = MTobjectHandle::FromRecord(record, &h);
  EXPECT_TRUE(s.IsCorruption()) << s.ToString();
  EXPECT_EQ(h, nullptr);
}

TEST(MTobjectHandle, SameObjectComparesIdentifiersOnly) {
  ActiveBlock block;
  auto a = Handle(Point(45, {1}), 5);
  auto sameOidOtherValue = Handle(Point(45, {2}), 5);
  auto sameValueOtherOid = Handle(Point(45, {1}), 6);
  EXPECT_EQ(a->SameObject(*sameOidOtherValue), 1);
  EXPECT_EQ(a->SameObject(*sameValueOtherOid), 0);
}

TEST(MTobjectHandle, OnlyDistanceCounts) {
  ActiveBlock block;
  auto a = Handle(Point(45, {3, 0}), 1);
  auto b = Handle(Point(45, {0, 4}), 2);
  std::unique_ptr<MTobjectHandle> copy;
  ASSERT_TRUE(MTobjectHandle::CopyOf(*a, &copy).ok());
  std::unique_ptr<MTobjectHandle> empty;
  ASSERT_TRUE(MTobjectHandle::MakeEmpty(&empty).ok());
  empty->Assign(*b);
  std::vector<std::byte> record(364);
  copy->WriteRecord(record);
  EXPECT_EQ(copy->RecordSize() + empty->RecordSize(), 728);
  EXPECT_EQ(block.Distances(), 0);

  EXPECT_EQ(a->Distance(*b), 5.0);
  EXPECT_EQ(copy->Distance(*empty), 5.0);
  EXPECT_EQ(a->Distance(*a), 0.0);
  EXPECT_EQ(block.Distances(), 3);
}

TEST(MTobjectHandle, AssignKeepsThePluginObjectAndTakesTheValue) {
  ActiveBlock block;
  auto a = Handle(Point(45, {1}), 1);
  auto b = Handle(Point(45, {9}), 2);
  IMTobject* before = a->Plugin();
  a->Assign(*b);
  EXPECT_EQ(a->Plugin(), before);
  EXPECT_EQ(a->Oid(), 2u);
  EXPECT_EQ(a->Distance(*b), 0.0);
}

TEST(MTobjectHandle, CopiesAreDeep) {
  ActiveBlock block;
  auto a = Handle(Point(45, {1}), 1);
  auto copy = a->Copy();
  EXPECT_NE(copy->Plugin(), a->Plugin());
  a->Assign(*Handle(Point(45, {4}), 3));
  EXPECT_EQ(copy->Oid(), 1u);
  EXPECT_EQ(copy->Distance(*a), 3.0);
}

TEST(MTobjectHandle, ClassThatCannotBeCreatedIsAStatus) {
  ActiveBlock block;
  block.parameters().objectClass = kUnregistered;
  std::unique_ptr<MTobjectHandle> h;
  Status s = MTobjectHandle::MakeEmpty(&h);
  EXPECT_TRUE(s.IsNotFound()) << s.ToString();
  EXPECT_NE(s.message().find(FormatGuid(kUnregistered)), std::string::npos) << s.message();
  EXPECT_TRUE(MTobjectHandle::FromRecord(Record(Point(45, {}), 1), &h).IsNotFound());
  EXPECT_EQ(h, nullptr);
}

}  // namespace
}  // namespace simdex
