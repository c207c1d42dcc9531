#include <gtest/gtest.h>

#include "vexa/core/containers.h"
#include "vexa/core/streams.h"

using namespace vexa;

TEST(Lists, IndexDeleteAndInsertFollowTheirBounds) {
  TVXIntegerList l;
  EXPECT_EQ(l.IndexOf(3), -1);
  l.Add(10), l.Add(20), l.Add(30);
  l.Changed = 0;
  l.Delete(-1);
  l.Delete(3);
  EXPECT_EQ(l.Count, 3);
  EXPECT_EQ(l.Changed, 0);
  l.Insert(5, 40);  // past the end appends
  EXPECT_EQ(l.Count, 4);
  EXPECT_EQ(l.GetItem(3), 40);
  l.Insert(1, 15);
  EXPECT_EQ(l.GetItem(1), 15);
  EXPECT_EQ(l.GetItem(2), 20);
  l.Delete(0);
  EXPECT_EQ(l.GetItem(0), 15);
  EXPECT_EQ(l.IndexOf(40), 3);
  EXPECT_EQ(l.Data.size(), 4u * 4);  // exact size, no spare capacity
  EXPECT_EQ(l.Changed & 1, 1);
}

TEST(Lists, RangeSettersMarkTheirBitsAndClearResets) {
  TVXDoubleList l;
  l.SetRangeMin(1.5);
  EXPECT_EQ(l.Changed, 2);
  l.SetCurrentValue(3.0);
  EXPECT_EQ(l.Changed, 6);
  l.Add(1.0);
  TVXDoubleList copy;
  copy.Assign(l);
  EXPECT_EQ(copy.Count, 1);
  EXPECT_DOUBLE_EQ(copy.RangeMin(), 1.5);
  EXPECT_DOUBLE_EQ(copy.CurrentValue(), 3.0);
  l.Clear();
  EXPECT_EQ(l.Count, 0);
  EXPECT_EQ(l.Changed, 0);
  EXPECT_DOUBLE_EQ(l.RangeMin(), 0.0);
  EXPECT_EQ(l.ItemSize, 8);
}

TEST(Lists, RecordListComparesWholeRecords) {
  struct Rec {
    int32_t a;
    int16_t b;
    int16_t pad;
  };
  TVXRecordList l(sizeof(Rec));
  Rec r1{1, 2, 0}, r2{1, 3, 0};
  l.Add(&r1);
  l.Add(&r2);
  EXPECT_EQ(l.IndexOf(&r2), 1);
  Rec r3{9, 9, 0};
  l.SetItem(7, &r3);  // ignored
  EXPECT_EQ(l.Count, 2);
  l.SetCount(1);
  EXPECT_EQ(l.IndexOf(&r2), -1);
}

TEST(Hash, CollidingKeysAreChained) {
  THash1 h(13);
  EXPECT_TRUE(h.Insert(1));
  EXPECT_TRUE(h.Insert(8193));  // same slot as 1
  EXPECT_TRUE(h.KeyPresent(1));
  EXPECT_TRUE(h.KeyPresent(8193));
  EXPECT_FALSE(h.KeyPresent(16385));
  EXPECT_EQ(h.Count(), 2);
  EXPECT_FALSE(h.Insert(1));
  EXPECT_TRUE(h.Insert(16385));
  EXPECT_FALSE(h.Insert(16385));
  EXPECT_EQ(h.Count(), 3);
}

TEST(ByteArray, CapacityMovesInBlockSteps) {
  TVXByteArray a;
  EXPECT_EQ(a.Capacity(), 4096);
  a.SetSize(5000);
  EXPECT_EQ(a.Capacity(), 9096);
  a.Data()[99] = 42;
  a.SetSize(100);
  EXPECT_EQ(a.Capacity(), 4196);
  EXPECT_EQ(a.Data()[99], 42);
  a.AddByte(7);
  EXPECT_EQ(a.Size(), 101);
  EXPECT_EQ(a.Data()[100], 7);
  TMemoryStream s("abc", 3);
  EXPECT_EQ(a.AppendFromStream(s, 10), 3);
  EXPECT_EQ(a.Size(), 104);
  EXPECT_EQ(a.Data()[103], 'c');
}

TEST(Streams, NulStreamCountsWithoutStoring) {
  TNulStream s;
  char buf[10] = {};
  EXPECT_EQ(s.Write(buf, 10), 10);
  EXPECT_EQ(s.Seek(0, soEnd), 10);
  EXPECT_EQ(s.Seek(5, soBeginning), 5);
  s.Write(buf, 2);
  EXPECT_EQ(s.Size(), 10);
  s.Seek(20, soBeginning);
  EXPECT_EQ(s.Size(), 20);
}

TEST(Streams, MemoryStreamReadsShortAtTheEndAndReadBufferThrows) {
  TMemoryStream s;
  s.WriteU32(0x01020304);
  s.WriteU16(0xBEEF);
  EXPECT_EQ(s.Size(), 6);
  s.SetPosition(0);
  EXPECT_EQ(s.ReadU32(), 0x01020304u);
  EXPECT_EQ(s.ReadU16(), 0xBEEF);
  uint8_t b[4];
  EXPECT_EQ(s.Read(b, 4), 0);
  s.SetPosition(5);
  EXPECT_THROW(s.ReadBuffer(b, 2), EReadError);
  EXPECT_THROW(s.Seek(-10, soCurrent), EStreamError);
}

TEST(Streams, FileErrorsRaise) {
  EXPECT_THROW(TFileStream("/nonexistent/dir/x.bin", fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream("/nonexistent/dir/x.bin", fmCreate), EFCreateError);
  std::string name = ::testing::TempDir() + "vexa_stream_test.bin";
  {
    TFileStream f(name, fmCreate);
    f.WriteU32(42);
    f.WriteU32(43);
    f.SetSize(4);
    EXPECT_EQ(f.Size(), 4);
  }
  EXPECT_EQ(_getfilesize(name.c_str()), 4);
  EXPECT_EQ(_getfilesize("/nonexistent/file"), -1);
  TFileStream f(name, fmOpenRead);
  EXPECT_EQ(f.ReadU32(), 42u);
  EXPECT_THROW(f.ReadU32(), EReadError);
}

TEST(Strings, LengthPrefixedAndBounded) {
  TMemoryStream s;
  SaveStringToStream(s, "");
  EXPECT_EQ(s.Size(), 4);
  SaveStringToStream(s, "h\xC3\xA9llo");
  s.SetPosition(0);
  std::string a = "x", b;
  LoadStringFromStream(s, a);
  LoadStringFromStream(s, b);
  EXPECT_EQ(a, "");
  EXPECT_EQ(b, "h\xC3\xA9llo");
  TMemoryStream bad;
  bad.WriteI32(1 << 30);  // claims a gigabyte, holds nothing
  bad.SetPosition(0);
  EXPECT_THROW(LoadStringFromStream(bad, a), EReadError);
  TMemoryStream neg;
  neg.WriteI32(-5);
  neg.SetPosition(0);
  EXPECT_THROW(LoadStringFromStream(neg, a), EReadError);
}
