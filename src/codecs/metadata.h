// Photo metadata: what a camera or an editor stored beside the pixels
// (EXIF, XMP, IPTC) and the colour profile (ICC). Read from JPEG and PNG
// files with exiv2; kept with the picture as read and written back, brought
// up to date, when the picture is saved as JPEG or PNG.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The metadata of a picture as read. Each block is empty when the file had
// none.
struct TPictureMetadata {
  std::vector<std::uint8_t> exif;  // EXIF as a TIFF structure (byte-order mark first)
  std::string xmp;                 // the XMP packet as found
  std::vector<std::uint8_t> iptc;  // IPTC datasets (IIM)
  std::vector<std::uint8_t> icc;   // the ICC colour profile as found

  bool Empty() const { return exif.empty() && xmp.empty() && iptc.empty() && icc.empty(); }
  bool operator==(const TPictureMetadata&) const = default;
};

// Reads the metadata of a JPEG or PNG file held in memory, and the EXIF
// orientation (1 to 8; 1 when the file says nothing). Metadata that cannot
// be read whole is dropped: `meta` is then empty, `orientation` 1, and the
// function returns false with `problem` saying what was wrong. A file with
// no metadata at all is not a problem.
bool ReadMetadata(std::span<const std::uint8_t> file, TPictureMetadata& meta, int& orientation,
                  std::string& problem);

// The blocks to write into a file of width x height made from a picture
// with `meta`: orientation 1 (the pixels are written upright), the pixel
// dimensions of the file, no thumbnail (it would show the old picture), and
// "Tessarin" as the software. XMP is kept byte for byte unless it states an
// orientation or dimensions that are no longer true; the ICC profile and
// IPTC are kept as they are. A block that cannot be brought up to date is
// left out, and `problem` says which.
struct TSaveMetadata {
  std::vector<std::uint8_t> exif;  // TIFF structure
  std::string xmp;
  std::vector<std::uint8_t> iptc;  // IIM datasets
  std::vector<std::uint8_t> icc;
};
TSaveMetadata PrepareMetadata(const TPictureMetadata& meta, int width, int height, std::string& problem);

// The IPTC datasets wrapped as a Photoshop resource block, the payload of a
// JPEG APP13 segment after its "Photoshop 3.0" name.
std::vector<std::uint8_t> IptcPhotoshopBlock(const std::vector<std::uint8_t>& iptc);

// The IPTC datasets as the text of a PNG "Raw profile type iptc" chunk.
std::string IptcRawProfile(const std::vector<std::uint8_t>& iptc);
