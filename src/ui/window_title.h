// The texts the window makes from a picture's file name.
#pragma once

#include <string>

// "Tessarin (" + FileNamePart(path) + ") " + W + " x " + H
std::string WindowTitle(const std::string& path, int width, int height);

// "Tessarin_" + FileNamePart(path)
std::string DefaultSaveName(const std::string& path);
