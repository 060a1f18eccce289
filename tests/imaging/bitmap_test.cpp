// Copy-on-write pixels: copies share memory until one is written, and no
// caller can tell.
#include "imaging/bitmap.h"

#include <gtest/gtest.h>

#include "imaging/pixel_access.h"
#include "support/pictures.h"

TEST(BitmapSharing, CopiesShareUntilOneIsWritten) {
  TBitmap a = RandomPicture(9, 4, 1);
  const TBitmap before = a;
  TBitmap b = a;
  EXPECT_TRUE(a.SharesPixels());
  EXPECT_TRUE(b.SharesPixels());
  // Reading through the const row address does not copy.
  const TBitmap& cb = b;
  EXPECT_EQ(cb.ScanLine(2), static_cast<const TBitmap&>(a).ScanLine(2));
  EXPECT_TRUE(b.SharesPixels());
  // Writing does: the other copies keep their pixels.
  const std::uint8_t* shared = static_cast<const TBitmap&>(a).ScanLine(2);
  b.ScanLine(2)[5] ^= 0xff;
  EXPECT_FALSE(b.SharesPixels());
  EXPECT_NE(cb.ScanLine(2), shared);
  EXPECT_EQ(a, before);
  EXPECT_NE(b, before);
}

// Each writer of pixels copies first: catches one that writes through a
// shared row.
TEST(BitmapSharing, EveryWriterCopiesFirst) {
  const TBitmap original = RandomPicture(6, 5, 2);
  const auto writers = {
      +[](TBitmap& b) {
        b.FillRect({1, 1, 3, 3}, RGBColor(1, 2, 3));
      },
      +[](TBitmap& b) { b.Fill(0); },
      +[](TBitmap& b) {
        b.Draw(2, 1, SolidPicture(2, 2, {9, 9, 9}));
      },
      +[](TBitmap& b) {
        b.CopyRect({0, 0, 3, 3}, SolidPicture(4, 4, {7, 7, 7}), {0, 0, 4, 4});
      },
      +[](TBitmap& b) {
        TBmpData24 d(b);
        d.GetData(0, 0)->rgbtRed ^= 1;
      },
      +[](TBitmap& b) { b.SetSize(7, 5); },
      +[](TBitmap& b) { b.SetPixelFormat(pf8bit); },
  };
  for (auto write : writers) {
    TBitmap copy = original;
    const TBitmap keep = original;
    write(copy);
    EXPECT_EQ(original, keep);
  }
}

TEST(BitmapSharing, ReadOnlyAccessorsKeepSharing) {
  const TBitmap a = RandomPicture(5, 5, 3);
  TBitmap b = a;
  const TBmpConstData24 reader(b);
  EXPECT_TRUE(b.SharesPixels());
  EXPECT_EQ(reader.GetData(4, 4)->rgbtBlue, a.ScanLine(4)[12]);
}

TEST(BitmapSharing, MovedFromBitmapIsEmpty) {
  TBitmap a = RandomPicture(5, 3, 4);
  const TBitmap keep = a;
  TBitmap b = std::move(a);
  EXPECT_EQ(a.Width(), 0);
  EXPECT_EQ(a.Height(), 0);
  EXPECT_EQ(b, keep);
  a = std::move(b);
  EXPECT_EQ(a, keep);
  a = a;  // self-assignment keeps the picture
  EXPECT_EQ(a, keep);
}

// A bitmap made for overwriting keeps its row padding zero, like every
// other, so no stale bytes can reach a file written row by row.
TEST(BitmapSharing, ForOverwriteKeepsRowPaddingZero) {
  {
    TBitmap dirty(5, 3, pf24bit);
    dirty.Fill(RGBColor(255, 255, 255));
  }
  const TBitmap b = TBitmap::ForOverwrite(5, 3, pf24bit);  // rows of 15 bytes in 16
  ASSERT_EQ(b.Width(), 5);
  for (int y = 0; y < 3; ++y) EXPECT_EQ(b.ScanLine(y)[15], 0) << y;
}
