// One set of size limits for reading and writing: a picture beyond them is
// never written (it could not be read back), and a picture at them is
// written and read back.
#include <gtest/gtest.h>

#include <string>

#include "codec_test_support.h"

TEST(SizeLimits, NothingIsWrittenThatCannotBeReadBack) {
  ScratchDir dir;
  // Wider than any reader takes (the bitmap itself allows it).
  const TBitmap wide(int(kMaxPictureSide) + 1, 1, pf24bit);
  for (const char* ext : {".bmp", ".png", ".gif", ".jpg"}) {
    std::string error;
    EXPECT_FALSE(WritePicture(dir.Path(std::string("wide") + ext), wide, error)) << ext;
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
  }
  EXPECT_TRUE(dir.Entries().empty());
  // The widest picture: written and read back where the format holds it
  // (JPEG stops at 65500 and says so, writing nothing).
  const TBitmap widest = RandomPicture(int(kMaxPictureSide), 2, 1);
  for (const char* ext : {".bmp", ".png", ".gif"}) {
    const std::string path = dir.Path(std::string("widest") + ext);
    std::string error;
    ASSERT_TRUE(WritePicture(path, widest, error)) << error;
    TBitmap back;
    ASSERT_TRUE(ReadPicture(path, back, error)) << error;
    EXPECT_EQ(back.Width(), widest.Width()) << ext;
  }
  std::string error;
  EXPECT_FALSE(WritePicture(dir.Path("widest.jpg"), widest, error));
  EXPECT_NE(error.find("65500"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(dir.Path("widest.jpg")));
}
