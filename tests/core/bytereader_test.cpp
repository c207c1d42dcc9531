#include <gtest/gtest.h>

#include <cstdint>

#include "vexa/core/bitmap.h"
#include "vexa/core/bytereader.h"
#include "vexa/core/failure.h"

using namespace vexa;

TEST(ByteReader, ReadsBothByteOrdersAndFailsPastTheEndForGood) {
  const uint8_t data[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  TVXByteReader le(data, sizeof data);
  EXPECT_EQ(le.U16(0), 0x0201);
  EXPECT_EQ(le.U32(2), 0x06050403u);
  EXPECT_TRUE(le.Ok());
  EXPECT_EQ(le.U32(3), 0u);  // one byte short
  EXPECT_FALSE(le.Ok());
  EXPECT_EQ(le.U8(0), 1);  // later reads still answer, the failure stays
  EXPECT_FALSE(le.Ok());

  TVXByteReader be(data, sizeof data, true);
  EXPECT_EQ(be.ReadU16(), 0x0102);
  EXPECT_EQ(be.ReadU32(), 0x03040506u);
  EXPECT_TRUE(be.Ok());
  EXPECT_EQ(be.ReadU8(), 0);
  EXPECT_FALSE(be.Ok());
  // Offsets near the top of the range must not wrap around into the buffer.
  TVXByteReader edge(data, sizeof data);
  EXPECT_EQ(edge.U16(SIZE_MAX - 1), 0);
  EXPECT_FALSE(edge.Ok());
  EXPECT_EQ(TVXByteReader(nullptr, 100).U8(0), 0);

  uint8_t out[4];
  VXStoreU32(out, 0x0A0B0C0D, true);
  EXPECT_EQ(VXLoadU32(out, true), 0x0A0B0C0Du);
  EXPECT_EQ(out[0], 0x0A);
  VXStoreU16(out, 0x1234);
  EXPECT_EQ(out[0], 0x34);
}

TEST(Failure, KeepsTheFirstReasonAndDescribesItWithItsCategory) {
  TVXFailure f;
  EXPECT_EQ(f.Describe(), "");
  bool aborting = false;
  TProgressRec pr;
  pr.Aborting = &aborting;
  pr.Failure = &f;
  pr.Fail(fkUnsupported, "bit depth", 7);
  pr.Fail(fkTruncated, "later consequence");
  EXPECT_TRUE(aborting);
  EXPECT_EQ(f.Kind, fkUnsupported);
  EXPECT_EQ(f.Value, 7);
  EXPECT_EQ(f.Describe(), "unsupported variant: bit depth 7");
  // Without a failure record only the flag is set.
  TProgressRec bare;
  bool flag = false;
  bare.Aborting = &flag;
  bare.Fail(fkCorrupt, "ignored");
  EXPECT_TRUE(flag);
}
