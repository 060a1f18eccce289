// The name rules: extension, file-name part, title and default save name.
#include <gtest/gtest.h>

#include "codecs/picture_io.h"

TEST(FileNames, ExtensionIsLastPeriodOfNamePartLowerCased) {
  struct Case {
    const char* path;
    const char* extension;
    bool supported;
  };
  const Case cases[] = {
      {"/pics/boat.jpg", ".jpg", true},
      {"/pics/BOAT.JPEG", ".jpeg", true},
      {"/pics/boat.Png", ".png", true},
      {"/pics/boat.GiF", ".gif", true},
      {"archive.png.bmp", ".bmp", true},
      {"/home/u/my.pics/photo", "", false},
      {"/home/u/my.pics/", "", false},
      {"photo", "", false},
      {"photo.", ".", false},
      {".png", ".png", true},
      {"/pics/boat.psd", ".psd", false},
      {"/pics/boat.jpg.txt", ".txt", false},
      {"/pics/bo\xC3\x84t.\xC3\x84PG", ".\xC3\x84pg", false},  // only ASCII letters are lower-cased
      {"", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FileExtension(c.path), c.extension) << c.path;
    EXPECT_EQ(IsSupportedExtension(c.path), c.supported) << c.path;
  }
}

TEST(FileNames, NamePartIsTextAfterLastSeparator) {
  EXPECT_EQ(FileNamePart("/home/u/my.pics/photo.jpg"), "photo.jpg");
  EXPECT_EQ(FileNamePart("photo.jpg"), "photo.jpg");
  EXPECT_EQ(FileNamePart("/home/u/"), "");
#ifdef _WIN32
  EXPECT_EQ(FileNamePart("C:\\pics\\boat.jpg"), "boat.jpg");
  EXPECT_EQ(FileNamePart("C:boat.jpg"), "boat.jpg");
#else
  // Backslash and colon are ordinary characters here.
  EXPECT_EQ(FileNamePart("/x/a\\b:c.jpg"), "a\\b:c.jpg");
  EXPECT_EQ(FileExtension("/x/my.pics\\photo"), ".pics\\photo");
#endif
}
