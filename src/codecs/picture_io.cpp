// Reading and writing picture files: the one place that picks the format
// from the extension, and the one layer that turns any failure into the
// message the caller sees.
//
// Reading loads the whole file, hands it to the format's decoder and moves
// the result into the caller's bitmap only when the decode succeeded.
// Refuses: an unsupported extension (before the file is opened), a path
// that is missing, unreadable, not a regular file, or empty; and whatever
// the decoder refuses (the size limits, the memory budget, damaged data).
//
// Writing refuses, before anything is encoded: an unsupported extension, a
// picture that is not pf24bit, has no pixels or is beyond the picture
// limits, and a target that cannot be written (safe_save.h); then it
// encodes into memory and replaces the target with the complete file.
#include "codecs/picture_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "codecs/codec.h"
#include "codecs/orientation.h"
#include "codecs/safe_save.h"

namespace {

using codecs::Bytes;
using codecs::ByteView;
using codecs::SystemError;

struct Codec {
  const char* name;
  bool (*decode)(ByteView, const codecs::DecodeContext&, TBitmap&, std::string&);
  bool (*encode)(const TBitmap&, const codecs::EncodeContext&, Bytes&, std::string&);
  bool metadata;              // the format carries EXIF, XMP or a colour profile
  const char* extensions[2];  // lower-cased, with the period; the second may be null
};

// Every format, in the order the file dialogs list them.
const Codec kCodecs[] = {
    {"BMP", codecs::DecodeBmp, codecs::EncodeBmp, false, {".bmp"}},
    {"JPEG", codecs::DecodeJpeg, codecs::EncodeJpeg, true, {".jpg", ".jpeg"}},
    {"GIF", codecs::DecodeGif, codecs::EncodeGif, false, {".gif"}},
    {"PNG", codecs::DecodePng, codecs::EncodePng, true, {".png"}},
    {"HEIF", codecs::DecodeHeif, codecs::EncodeHeic, true, {".heic", ".heif"}},
    {"AVIF", codecs::DecodeAvif, codecs::EncodeAvif, true, {".avif"}},
    {"WebP", codecs::DecodeWebp, codecs::EncodeWebp, true, {".webp"}},
    {"TIFF", codecs::DecodeTiff, codecs::EncodeTiff, true, {".tif", ".tiff"}},
    {"JPEG XL", codecs::DecodeJxl, codecs::EncodeJxl, true, {".jxl"}},
};

// The format of a path, by its lower-cased extension; nullptr for none.
const Codec* CodecFor(const std::string& path) {
  const std::string ext = FileExtension(path);
  for (const Codec& codec : kCodecs)
    for (const char* e : codec.extensions)
      if (e != nullptr && ext == e) return &codec;
  return nullptr;
}

std::string UnsupportedMessage(const std::string& path) {
  const std::string ext = FileExtension(path);
  std::string known;
  for (const Codec& codec : kCodecs)
    for (const char* e : codec.extensions)
      if (e != nullptr) known += (known.empty() ? "" : ", ") + std::string(e);
  return (ext.empty() ? std::string("file name has no extension")
                      : "unsupported file extension \"" + ext + "\"") +
         " (supported: " + known + "): " + path;
}

// The codec for a path's extension; nullptr, with the message saying which
// extensions there are, for any other.
const Codec* CodecOrError(const std::string& path, std::string& error) {
  const Codec* codec = CodecFor(path);
  if (codec == nullptr) error = UnsupportedMessage(path);
  return codec;
}

std::atomic<std::uint64_t> gDecodeBudget{kDefaultDecodeMemoryBudget};

// A file's bytes, read whole into memory that is mapped as it is filled
// (NewLazyMemory), so that nothing is copied or zeroed twice.
struct FileBytes {
  std::shared_ptr<std::uint8_t[]> memory;
  std::size_t size = 0;
  ByteView View() const { return {memory.get(), size}; }
};

bool LoadFile(const std::string& path, FileBytes& data, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = SystemError("cannot open file", errno, path);
    return false;
  }
  // Closes the file on every path, exceptions included.
  const std::unique_ptr<const int, void (*)(const int*)> closer(&fd, [](const int* f) { ::close(*f); });
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    error = SystemError("cannot read file", errno, path);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = "not a regular file: " + path;
    return false;
  }
  // One byte more than the file's size, so that the end is seen at once;
  // a file that grows meanwhile is read on into a larger block.
  std::size_t capacity = std::size_t(info.st_size) + 1;
  data.memory = NewLazyMemory(capacity);
  data.size = 0;
  for (;;) {
    if (data.size == capacity) {
      auto larger = NewLazyMemory(capacity * 2);
      std::memcpy(larger.get(), data.memory.get(), data.size);
      data.memory = std::move(larger);
      capacity *= 2;
    }
    const ssize_t n = ::read(fd, data.memory.get() + data.size, capacity - data.size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = SystemError("cannot read file", errno, path);
      return false;
    }
    if (n == 0) break;
    data.size += std::size_t(n);
  }
  if (data.size == 0) {
    error = "file is empty: " + path;
    return false;
  }
  return true;
}

// Decodes, then reads the metadata of a JPEG or PNG file and stands the
// picture upright by its EXIF orientation. Metadata that cannot be read is
// dropped with a warning; the picture still opens.
bool Decode(const Codec& codec, ByteView data, const std::string& path, TBitmap& out,
            TPictureMetadata* metadata, std::string& error, std::vector<std::string>* warnings) {
  const codecs::DecodeContext context{path, gDecodeBudget.load(), warnings};
  TBitmap picture;
  if (!codec.decode(data, context, picture, error)) return false;
  TPictureMetadata meta;
  if (codec.metadata) {
    int orientation = 1;
    std::string problem;
    if (!ReadMetadata(data, meta, orientation, problem))
      context.Warn(codecs::FormatError(
          codec.name, "the camera data cannot be kept, it is damaged (" + problem + ")", path));
    ApplyOrientation(picture, orientation);
  }
  out = std::move(picture);
  if (metadata != nullptr) *metadata = std::move(meta);
  return true;
}

// Runs `body`, the whole work of a public function below, and turns any
// exception into the message the caller sees: "FORMAT: what: path" once
// `body` has found the format, "what: path" before. Running out of memory
// anywhere (even while a message is formed) is an error like any other; if
// not even the message fits, it is a bare "out of memory".
template <typename Body>
bool Guarded(const std::string& path, std::string& error, Body&& body) noexcept {
  const Codec* codec = nullptr;  // set by `body` once the format is known
  try {
    return body(codec);
  } catch (const std::bad_alloc&) {
  } catch (const std::exception& e) {
    try {
      error = codec != nullptr ? codecs::FormatError(codec->name, e.what(), path) : e.what() + (": " + path);
      return false;
    } catch (...) {
    }
  }
  try {
    error =
        codec != nullptr ? codecs::FormatError(codec->name, "out of memory", path) : "out of memory: " + path;
    return false;
  } catch (...) {
  }
  try {
    error = "out of memory: " + path;
  } catch (...) {
    try {
      error.clear();
      error = "out of memory";  // fits the string's own buffer
    } catch (...) {
    }
  }
  return false;
}

}  // namespace

void SetDecodeMemoryBudget(std::uint64_t bytes) {
  gDecodeBudget.store(bytes);
}
std::uint64_t DecodeMemoryBudget() {
  return gDecodeBudget.load();
}

bool ReadPicture(const std::string& path, TBitmap& out, std::string& error) {
  return ReadPicture(path, out, nullptr, error, nullptr);
}

bool ReadPicture(const std::string& path, TBitmap& out, TPictureMetadata* metadata, std::string& error,
                 std::vector<std::string>* warnings) {
  return Guarded(path, error, [&](const Codec*& codec) {
    codec = CodecOrError(path, error);
    if (codec == nullptr) return false;
    FileBytes data;
    if (!LoadFile(path, data, error)) return false;
    return Decode(*codec, data.View(), path, out, metadata, error, warnings);
  });
}

bool ReadDepthImage(const std::string& path, TBitmap& out) {
  std::string error;
  return Guarded(path, error, [&](const Codec*& codec) {
    codec = CodecFor(path);
    if (codec == nullptr || codec->decode != codecs::DecodeHeif) return false;
    FileBytes data;
    return LoadFile(path, data, error) && codecs::DecodeHeifDepth(data.View(), out);
  });
}

bool ReadReducedPicture(const std::string& path, int boxWidth, int boxHeight, TBitmap& out) {
  std::string error;
  return Guarded(path, error, [&](const Codec*& codec) {
    codec = CodecFor(path);
    if (codec == nullptr || codec->decode != codecs::DecodeJpeg || boxWidth < 1 || boxHeight < 1)
      return false;
    FileBytes data;
    int width = 0, height = 0;
    if (!LoadFile(path, data, error) || !codecs::JpegDimensions(data.View(), width, height)) return false;
    TPictureMetadata meta;
    int orientation = 1;
    std::string problem;
    if (!ReadMetadata(data.View(), meta, orientation, problem)) return false;
    if (orientation >= 5) std::swap(width, height);  // these stand the picture on its side
    // Fitted into the box the picture is `fit` times its size; a reduction
    // by n still covers that while n * fit <= 1 (it rounds its size up).
    const double fit = std::min(double(boxWidth) / width, double(boxHeight) / height);
    int reduction = 1;
    for (const int n : {8, 4, 2}) {
      if (n * fit <= 1) {
        reduction = n;
        break;
      }
    }
    if (reduction == 1) return false;
    const codecs::DecodeContext context{path, gDecodeBudget.load(), nullptr, reduction};
    TBitmap picture;
    if (!codecs::DecodeJpeg(data.View(), context, picture, error)) return false;
    ApplyOrientation(picture, orientation);
    out = std::move(picture);
    return true;
  });
}

bool DecodePicture(std::span<const std::uint8_t> data, const std::string& path, TBitmap& out,
                   std::string& error, std::vector<std::string>* warnings) {
  return Guarded(path, error, [&](const Codec*& codec) {
    codec = CodecOrError(path, error);
    if (codec == nullptr) return false;
    return Decode(*codec, data, path, out, nullptr, error, warnings);
  });
}

bool WritePicture(const std::string& path, const TBitmap& picture, std::string& error) {
  return WritePicture(path, picture, TWriteOptions{}, error);
}

bool WritePicture(const std::string& path, const TBitmap& picture, const TWriteOptions& options,
                  std::string& error, std::vector<std::string>* warnings) {
  return Guarded(path, error, [&](const Codec*& codec) {
    codec = CodecOrError(path, error);
    if (codec == nullptr) return false;
    if (picture.PixelFormat() != pf24bit) {
      error = codecs::FormatError(codec->name, "only 24-bit pictures can be written", path);
      return false;
    }
    if (picture.Width() < 1 || picture.Height() < 1) {
      error = codecs::FormatError(codec->name, "picture has no pixels", path);
      return false;
    }
    // What we write we must be able to read back.
    if (!codecs::CheckDeclaredSize(codec->name, picture.Width(), picture.Height(), path, error)) return false;
    std::string target;
    if (!codecs::ResolveSaveTarget(path, target, error)) return false;
    if (options.jpegQuality < 1 || options.jpegQuality > 100) {
      error = codecs::FormatError(codec->name, "the JPEG quality must lie between 1 and 100", path);
      return false;
    }
    codecs::EncodeContext context{path, options.jpegQuality, nullptr, warnings};
    TSaveMetadata save;
    if (codec->metadata && options.metadata != nullptr && !options.metadata->Empty()) {
      std::string problem;
      save = PrepareMetadata(*options.metadata, picture.Width(), picture.Height(), problem);
      if (!problem.empty())
        context.Warn(codecs::FormatError(codec->name,
                                         "part of the camera data cannot be kept (" + problem + ")", path));
      context.metadata = &save;
    }
    Bytes data;
    if (!codec->encode(picture, context, data, error)) return false;
    return codecs::ReplaceFile(path, target, data, error);
  });
}

bool CheckPictureTarget(const std::string& path, std::string& error) {
  return Guarded(path, error, [&](const Codec*&) {
    if (!CheckPictureExtension(path, error)) return false;
    std::string target;
    return codecs::ResolveSaveTarget(path, target, error) && codecs::CheckSaveFolder(path, target, error);
  });
}

bool IsSupportedExtension(const std::string& path) {
  return CodecFor(path) != nullptr;
}

const std::vector<TPictureFormat>& PictureFormats() {
  static const std::vector<TPictureFormat> formats = [] {
    std::vector<TPictureFormat> list;
    for (const Codec& codec : kCodecs) {
      TPictureFormat format{codec.name, {}};
      for (const char* e : codec.extensions)
        if (e != nullptr) format.extensions.push_back(e);
      list.push_back(std::move(format));
    }
    return list;
  }();
  return formats;
}

bool CheckPictureExtension(const std::string& path, std::string& error) {
  return CodecOrError(path, error) != nullptr;
}
