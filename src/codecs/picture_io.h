// Picture files: reading and writing BMP, JPEG, GIF, PNG, HEIF, AVIF, WebP,
// TIFF and JPEG XL.
//
// Reading brings every picture to a 24-bit TBitmap (pf24bit; blue, green,
// red; row 0 at the top). Writing takes a pf24bit TBitmap. The format is
// chosen by the lower-cased extension of the path alone (PictureFormats()
// lists them). Any other extension is refused with a message naming the
// supported ones; nothing is read or written then.
//
// Failures never throw: they return false and put into `error` a message
// that says what is wrong and with which file.
//
// Pictures read and written stay within the limits of
// imaging/size_limits.h, and a decode takes at most the memory budget.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codecs/metadata.h"
#include "imaging/bitmap.h"
#include "imaging/size_limits.h"

// Reads the picture at `path` into `out` as pf24bit. On failure returns
// false, leaves `out` unchanged, and `error` holds a message naming the file
// and what is wrong.
bool ReadPicture(const std::string& path, TBitmap& out, std::string& error);

// The same, and the picture's metadata (EXIF, XMP, IPTC and the colour
// profile, as far as the format carries them; nothing for BMP and GIF) into
// `metadata` (may be null). Every read stands a JPEG, PNG, WebP or TIFF
// picture upright by its EXIF orientation (HEIF, AVIF and JPEG XL turn by
// their own boxes and headers, in the decoder), so everything after sees it
// as the camera held it; metadata
// that cannot be read is left out with a warning and the picture still
// opens. A file that is damaged but still gives a picture (libjpeg's
// warnings) adds messages naming the file to `warnings` (may be null).
bool ReadPicture(const std::string& path, TBitmap& out, TPictureMetadata* metadata, std::string& error,
                 std::vector<std::string>* warnings);

// The depth image a HEIF file (a phone's portrait) carries beside its
// primary image, as 8-bit grey (white near), at its own size. False, with
// `out` unchanged, when there is none or it cannot be read.
bool ReadDepthImage(const std::string& path, TBitmap& out);

// A quick first look at a large JPEG file, for showing while it is read in
// full: the picture decoded at 1/2, 1/4 or 1/8 of its size with libjpeg's
// DCT scaling (the smallest of these that still covers what the picture
// takes when fitted into boxWidth x boxHeight) and stood upright by its
// EXIF orientation. Its pixels are approximate (fast IDCT, plain
// upsampling): it is for the eyes only. False, with `out` unchanged, for
// any other format, a picture that no reduction would leave that large,
// or a file that cannot be read (the full read says why).
bool ReadReducedPicture(const std::string& path, int boxWidth, int boxHeight, TBitmap& out);

// Decodes a file's bytes held in memory; `path` chooses the format by its
// extension and is named in the messages. Otherwise as ReadPicture.
bool DecodePicture(std::span<const std::uint8_t> data, const std::string& path, TBitmap& out,
                   std::string& error, std::vector<std::string>* warnings = nullptr);

// Writes `picture` (pf24bit) to `path` in the format of its extension. On
// failure returns false with `error` set; an existing file at `path` is
// never damaged and no partial file is left behind, whatever happens to
// the process. A symbolic link at `path` is written through. A target the
// user may not write is refused, as cp refuses it.
bool WritePicture(const std::string& path, const TBitmap& picture, std::string& error);

// The quality JPEG files are written at unless said otherwise (1 to 100).
inline constexpr int kDefaultJpegQuality = 90;

// How a picture is written.
struct TWriteOptions {
  int jpegQuality = kDefaultJpegQuality;  // 1 to 100; also the WebP, AVIF, HEIC and JPEG XL quality
  const TPictureMetadata* metadata =
      nullptr;  // carried into every format but BMP and GIF, brought up to date
};

// The same with options; what had to be left out of the metadata (a block
// too large for a JPEG segment, one that cannot be brought up to date) adds
// a warning naming the file to `warnings` (may be null). BMP and GIF files
// carry no metadata. The pixels written are the same with or without it.
bool WritePicture(const std::string& path, const TBitmap& picture, const TWriteOptions& options,
                  std::string& error, std::vector<std::string>* warnings = nullptr);

// The memory one decode may take, in bytes, checked before any pixel memory
// is allocated (process-wide). The default is enough for the largest
// picture the program reads or writes: the decoded rows and the finished
// picture (6 bytes a pixel) plus a decoder's whole-picture buffers (up to
// 6 more, for a progressive JPEG).
inline constexpr std::uint64_t kDefaultDecodeMemoryBudget =
    std::uint64_t(kMaxPicturePixels) * 12 + (std::uint64_t(256) << 20);
void SetDecodeMemoryBudget(std::uint64_t bytes);
std::uint64_t DecodeMemoryBudget();

// Test seam: replaces the write(2) that saving uses (null restores it), so
// that a test can make the disk fill up.
using WriteFunction = ssize_t (*)(int fd, const void* data, size_t count);
void SetWriteFunctionForTesting(WriteFunction write);

// The extension: text from the last period of the file-name part to the
// end, ASCII letters lower-cased, with the period (".jpg"); "" when none.
std::string FileExtension(const std::string& path);

// The file-name part: text after the last separator.
std::string FileNamePart(const std::string& path);

// True for the extension of any format in PictureFormats() (any case).
bool IsSupportedExtension(const std::string& path);

// A picture format the program reads and writes: its name ("JPEG",
// "WebP", ...) and its extensions, lower-cased with the period, the usual
// one first. PictureFormats() lists every one, in the order the file
// dialogs show them: BMP, JPEG, GIF, PNG, then HEIF, AVIF, WebP, TIFF and
// JPEG XL.
struct TPictureFormat {
  std::string name;
  std::vector<std::string> extensions;
};
const std::vector<TPictureFormat>& PictureFormats();

// The same test, with the message ReadPicture and WritePicture give for an
// unsupported name put into `error`: lets a caller refuse an output name
// before doing any work for it.
bool CheckPictureExtension(const std::string& path, std::string& error);

// Everything WritePicture checks about the target before it encodes: the
// extension, that an existing target (through symbolic links) is a regular
// file the user may write, and that its folder exists and takes new files.
// Lets a caller refuse a save before doing the work for it; the save
// itself checks again.
bool CheckPictureTarget(const std::string& path, std::string& error);
