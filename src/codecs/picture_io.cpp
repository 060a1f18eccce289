// Stub until the codecs land.
#include "codecs/picture_io.h"

bool ReadPicture(const std::string& path, TBitmap&, std::string& error) {
  error = "reading is not available yet: " + path;
  return false;
}

bool WritePicture(const std::string& path, const TBitmap&, std::string& error) {
  error = "writing is not available yet: " + path;
  return false;
}
