#include "ui/window_title.h"

#include "codecs/picture_io.h"

std::string WindowTitle(const std::string& path, int width, int height) {
  return "Tessarin (" + FileNamePart(path) + ") " + std::to_string(width) + " x " + std::to_string(height);
}

std::string DefaultSaveName(const std::string& path) {
  return "Tessarin_" + FileNamePart(path);
}
