// Reading and updating photo metadata with exiv2.
//
// exiv2 reports trouble in two ways: exceptions for what it cannot parse,
// and log messages for what it parses past. Both count as damage here:
// metadata that exiv2 had to guess at is not worth keeping, and a picture
// must open whatever its metadata holds. The log goes to a per-thread
// collector instead of the error stream.
#include "codecs/metadata.h"

#include <cstring>
#include <exiv2/exiv2.hpp>
#include <iomanip>
#include <mutex>
#include <sstream>

#include "codecs/codec.h"

namespace {

thread_local std::string* gExivLog = nullptr;

void CollectExivMessage(int level, const char* message) {
  if (gExivLog != nullptr && level >= Exiv2::LogMsg::error && gExivLog->empty()) {
    *gExivLog = message;
    while (!gExivLog->empty() && (gExivLog->back() == '\n' || gExivLog->back() == ' ')) gExivLog->pop_back();
  }
}

// Routes exiv2's log into `log` while it lives.
class TExivLog {
 public:
  explicit TExivLog(std::string& log) {
    static std::once_flag once;
    std::call_once(once, [] {
      // Files may be read on several threads at once (a quick first look
      // beside the full read): the XMP toolkit's namespace registry then
      // takes this lock.
      static std::recursive_mutex xmpLock;
      Exiv2::XmpParser::initialize(
          [](void* lock, bool take) {
            auto* m = static_cast<std::recursive_mutex*>(lock);
            if (take) {
              m->lock();
            } else {
              m->unlock();
            }
          },
          &xmpLock);
      Exiv2::LogMsg::setLevel(Exiv2::LogMsg::error);
      Exiv2::LogMsg::setHandler(CollectExivMessage);
    });
    gExivLog = &log;
  }
  ~TExivLog() { gExivLog = nullptr; }
};

std::vector<std::uint8_t> ToBytes(const Exiv2::byte* data, std::size_t size) {
  return std::vector<std::uint8_t>(data, data + size);
}

int OrientationOf(const Exiv2::ExifData& exif, const Exiv2::XmpData& xmp) {
  long value = 0;
  const auto e = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
  if (e != exif.end() && e->count() > 0) {
    value = e->toLong();
  } else {
    const auto x = xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
    if (x != xmp.end() && x->count() > 0) value = x->toLong();
  }
  return value >= 1 && value <= 8 ? int(value) : 1;
}

// Sets `key` to `value` where the block already has it; true when it changed.
bool UpdateXmp(Exiv2::XmpData& xmp, const char* key, long value) {
  const auto it = xmp.findKey(Exiv2::XmpKey(key));
  if (it == xmp.end() || (it->count() > 0 && it->toLong() == value)) return false;
  it->setValue(std::to_string(value));
  return true;
}

void UpdateExif(Exiv2::ExifData& exif, int width, int height) {
  const auto setIfPresent = [&](const char* key, std::uint32_t value) {
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it != exif.end()) *it = value;
  };
  exif["Exif.Image.Orientation"] = std::uint16_t(1);
  exif["Exif.Image.Software"] = "Tessarin";
  setIfPresent("Exif.Image.ImageWidth", std::uint32_t(width));
  setIfPresent("Exif.Image.ImageLength", std::uint32_t(height));
  exif["Exif.Photo.PixelXDimension"] = std::uint32_t(width);
  exif["Exif.Photo.PixelYDimension"] = std::uint32_t(height);
  Exiv2::ExifThumb(exif).erase();
}

// Adds one block's problem to those already found, so none is lost.
void AddProblem(std::string& problem, const std::string& more) {
  problem += (problem.empty() ? "" : "; ") + more;
}

}  // namespace

bool ReadMetadata(std::span<const std::uint8_t> file, TPictureMetadata& meta, int& orientation,
                  std::string& problem) {
  meta = {};
  orientation = 1;
  // HEIF, AVIF and JPEG XL through their own libraries; their decoders
  // have applied the orientation already.
  const bool isoMedia = file.size() >= 12 && std::memcmp(file.data() + 4, "ftyp", 4) == 0;
  const bool jxl = (file.size() >= 2 && file[0] == 0xFF && file[1] == 0x0A) ||
                   (file.size() >= 12 && std::memcmp(file.data(), "\0\0\0\x0CJXL \r\n\x87\n", 12) == 0);
  if (isoMedia || jxl) {
    try {
      TPictureMetadata read;
      if (!(jxl ? codecs::ReadJxlMetadata(file, read, problem)
                : codecs::ReadHeifMetadata(file, read, problem)))
        return false;
      meta = std::move(read);
      return true;
    } catch (const std::exception& e) {
      problem = e.what();
      return false;
    }
  }
  std::string log;
  try {
    TExivLog route(log);
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(file.data(), long(file.size()));
    image->readMetadata();
    if (log.empty()) {
      TPictureMetadata read;
      const Exiv2::ExifData& exif = image->exifData();
      if (!exif.empty()) {
        Exiv2::ByteOrder order = image->byteOrder();
        if (order == Exiv2::invalidByteOrder) order = Exiv2::littleEndian;
        Exiv2::Blob blob;
        if (image->imageType() == Exiv2::ImageType::tiff) {
          // A TIFF file's IFD0 holds the picture's own layout, and its
          // profile, XMP and IPTC, as tags: the EXIF kept is the rest.
          Exiv2::ExifData tags = exif;
          for (const char* name : {"InterColorProfile",
                                   "XMLPacket",
                                   "IPTCNAA",
                                   "ImageResources",
                                   "NewSubfileType",
                                   "SubfileType",
                                   "ImageWidth",
                                   "ImageLength",
                                   "BitsPerSample",
                                   "Compression",
                                   "PhotometricInterpretation",
                                   "FillOrder",
                                   "StripOffsets",
                                   "SamplesPerPixel",
                                   "RowsPerStrip",
                                   "StripByteCounts",
                                   "PlanarConfiguration",
                                   "Predictor",
                                   "TileWidth",
                                   "TileLength",
                                   "TileOffsets",
                                   "TileByteCounts",
                                   "ExtraSamples",
                                   "SampleFormat",
                                   "ColorMap",
                                   "PageNumber",
                                   "Orientation"}) {
            const auto it = tags.findKey(Exiv2::ExifKey(std::string("Exif.Image.") + name));
            if (it != tags.end()) tags.erase(it);
          }
          if (!tags.empty()) Exiv2::ExifParser::encode(blob, order, tags);
        } else {
          Exiv2::ExifParser::encode(blob, order, exif);
        }
        read.exif.assign(blob.begin(), blob.end());
      }
      read.xmp = image->xmpPacket();
      if (!image->iptcData().empty()) {
        const Exiv2::DataBuf iptc = Exiv2::IptcParser::encode(image->iptcData());
        read.iptc = ToBytes(iptc.pData_, std::size_t(iptc.size_));
      }
      if (image->iccProfileDefined())
        read.icc = ToBytes(image->iccProfile()->pData_, std::size_t(image->iccProfile()->size_));
      if (log.empty()) {
        orientation = OrientationOf(exif, image->xmpData());
        meta = std::move(read);
        return true;
      }
    }
  } catch (const std::exception& e) {
    if (log.empty()) log = e.what();
  }
  problem = log.empty() ? "unreadable metadata" : log;
  return false;
}

TSaveMetadata PrepareMetadata(const TPictureMetadata& meta, int width, int height, std::string& problem) {
  TSaveMetadata out;
  out.iptc = meta.iptc;
  out.icc = meta.icc;
  std::string log;
  TExivLog route(log);
  if (!meta.exif.empty()) {
    try {
      Exiv2::ExifData exif;
      const Exiv2::ByteOrder order =
          Exiv2::ExifParser::decode(exif, meta.exif.data(), uint32_t(meta.exif.size()));
      UpdateExif(exif, width, height);
      Exiv2::Blob blob;
      Exiv2::ExifParser::encode(blob, order, exif);
      out.exif.assign(blob.begin(), blob.end());
    } catch (const std::exception& e) {
      out.exif.clear();
      AddProblem(problem, std::string("EXIF: ") + e.what());
    }
  }
  if (!meta.xmp.empty()) {
    Exiv2::XmpData xmp;
    if (Exiv2::XmpParser::decode(xmp, meta.xmp) != 0) {
      AddProblem(problem, "XMP: the packet cannot be parsed");
    } else {
      bool changed = UpdateXmp(xmp, "Xmp.tiff.Orientation", 1);
      changed |= UpdateXmp(xmp, "Xmp.tiff.ImageWidth", width);
      changed |= UpdateXmp(xmp, "Xmp.tiff.ImageLength", height);
      changed |= UpdateXmp(xmp, "Xmp.exif.PixelXDimension", width);
      changed |= UpdateXmp(xmp, "Xmp.exif.PixelYDimension", height);
      std::string packet;
      if (!changed) {
        out.xmp = meta.xmp;
      } else if (Exiv2::XmpParser::encode(packet, xmp, Exiv2::XmpParser::useCompactFormat) == 0) {
        out.xmp = packet;
      } else {
        AddProblem(problem, "XMP: the packet cannot be written");
      }
    }
  }
  if (problem.empty() && !log.empty()) problem = log;
  return out;
}

bool codecs::WriteTiffExif(Bytes& tiff, const std::vector<std::uint8_t>& exif, std::string& problem) {
  std::string log;
  try {
    TExivLog route(log);
    Exiv2::ExifData data;
    Exiv2::ExifParser::decode(data, exif.data(), std::uint32_t(exif.size()));
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(tiff.data(), long(tiff.size()));
    image->readMetadata();
    // The tags the writer set (the profile, XMP) stay; EXIF adds the rest.
    Exiv2::ExifData merged = image->exifData();
    for (const Exiv2::Exifdatum& d : data)
      if (merged.findKey(Exiv2::ExifKey(d.key())) == merged.end()) merged.add(d);
    image->setExifData(merged);
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    if (log.empty() && io.open() == 0) {
      Bytes written(std::size_t(io.size()));
      const long read = io.read(written.data(), long(written.size()));
      io.close();
      if (read == long(written.size())) {
        tiff = std::move(written);
        return true;
      }
    }
  } catch (const std::exception& e) {
    if (log.empty()) log = e.what();
  }
  problem = log.empty() ? "exiv2 cannot write it" : log;
  return false;
}

std::vector<std::uint8_t> IptcPhotoshopBlock(const std::vector<std::uint8_t>& iptc) {
  Exiv2::IptcData data;
  if (iptc.empty() || Exiv2::IptcParser::decode(data, iptc.data(), uint32_t(iptc.size())) != 0) return {};
  const Exiv2::DataBuf block = Exiv2::Photoshop::setIptcIrb(nullptr, 0, data);
  return ToBytes(block.pData_, std::size_t(block.size_));
}

std::string IptcRawProfile(const std::vector<std::uint8_t>& iptc) {
  // The layout ImageMagick and exiv2 use: a newline, the type, the length
  // right-aligned in 8 characters, then the bytes in hexadecimal, 72 digits
  // a line.
  std::ostringstream out;
  out << "\niptc\n" << std::setw(8) << iptc.size();
  static const char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < iptc.size(); ++i) {
    if (i % 36 == 0) out << '\n';
    out << kHex[iptc[i] >> 4] << kHex[iptc[i] & 15];
  }
  out << '\n';
  return out.str();
}
