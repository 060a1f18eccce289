// The texts the window makes from a picture's file name: its title and the
// name a save proposes. They belong to the window and live apart here so
// that they can move there whole; the declarations are at the end of
// picture_io.h until then.
#include <string>

#include "codecs/picture_io.h"

std::string WindowTitle(const std::string& path, int width, int height) {
  return "Tessarin (" + FileNamePart(path) + ") " + std::to_string(width) + " x " + std::to_string(height);
}

std::string DefaultSaveName(const std::string& path) {
  return "Tessarin_" + FileNamePart(path);
}
