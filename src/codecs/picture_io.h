// Picture files: reading and writing BMP, JPEG, GIF and PNG.
//
// Reading brings every picture to a 24-bit TBitmap (pf24bit; blue, green,
// red; row 0 at the top). Writing takes a pf24bit TBitmap. The format is
// chosen by the lower-cased extension of the path alone: ".bmp", ".jpg" or
// ".jpeg", ".gif", ".png". Any other extension is refused with a message
// naming the supported ones; nothing is read or written then.
//
// Failures never throw: they return false and put into `error` a message
// that says what is wrong and with which file.
#pragma once

#include <string>

#include "imaging/bitmap.h"

// Reads the picture at `path` into `out` as pf24bit. On failure returns
// false, leaves `out` unchanged, and `error` holds a message naming the file
// and what is wrong.
bool ReadPicture(const std::string& path, TBitmap& out, std::string& error);

// Writes `picture` (pf24bit) to `path` in the format of its extension. On
// failure returns false with `error` set; an existing file at `path` is
// never damaged and no partial file is left behind.
bool WritePicture(const std::string& path, const TBitmap& picture, std::string& error);

// The extension: text from the last period of the file-name part to the
// end, ASCII letters lower-cased, with the period (".jpg"); "" when none.
std::string FileExtension(const std::string& path);

// The file-name part: text after the last separator.
std::string FileNamePart(const std::string& path);

// True for ".bmp", ".jpg", ".jpeg", ".gif", ".png" (any case).
bool IsSupportedExtension(const std::string& path);

// The same test, with the message ReadPicture and WritePicture give for an
// unsupported name put into `error`: lets a caller refuse an output name
// before doing any work for it.
bool CheckPictureExtension(const std::string& path, std::string& error);

// "Tessarin (" + FileNamePart(path) + ") " + W + " x " + H
std::string WindowTitle(const std::string& path, int width, int height);

// "Tessarin_" + FileNamePart(path)
std::string DefaultSaveName(const std::string& path);
