// Reading and writing picture files: the one place that picks the format
// from the extension and touches the file system.
//
// Reading loads the whole file, hands it to the format's decoder and moves
// the result into the caller's bitmap only when the decode succeeded.
// Refuses: an unsupported extension (before the file is opened), a path
// that is missing, unreadable, not a regular file, or empty.
//
// Writing encodes into memory first; then the bytes go to a new temporary
// file in the target's folder, which is flushed to disk and renamed over
// the target only when everything succeeded. A failure removes the
// temporary file, so an existing target is never damaged and nothing
// partial is left. A replaced file keeps its permission bits; a new one gets
// 0666 less the umask. Refuses: an unsupported extension, a picture that is
// not pf24bit or has no pixels.
#include "codecs/picture_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "codecs/codec.h"

namespace codecs {

std::string FormatError(const char* format, const std::string& what, const std::string& path) {
  return std::string(format) + ": " + what + ": " + path;
}

bool CheckDeclaredSize(const char* format, std::int64_t width, std::int64_t height, const std::string& path,
                       std::string& error) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  if (width < 1 || height < 1) {
    error = FormatError(format, "picture has no pixels (" + size + ")", path);
    return false;
  }
  if (width > kMaxSide || height > kMaxSide || width * height > kMaxPixels) {
    error = FormatError(
        format, "picture too large (" + size + "; the limit is 65535 per side and 268435456 pixels)", path);
    return false;
  }
  return true;
}

}  // namespace codecs

namespace {

using codecs::Bytes;

struct Codec {
  const char* name;
  bool (*decode)(const Bytes&, const std::string&, TBitmap&, std::string&);
  bool (*encode)(const TBitmap&, const std::string&, Bytes&, std::string&);
};

// The format of a path, by its lower-cased extension; nullptr for none of
// the five.
const Codec* CodecFor(const std::string& path) {
  static const Codec kBmp{"BMP", codecs::DecodeBmp, codecs::EncodeBmp};
  static const Codec kJpeg{"JPEG", codecs::DecodeJpeg, codecs::EncodeJpeg};
  static const Codec kGif{"GIF", codecs::DecodeGif, codecs::EncodeGif};
  static const Codec kPng{"PNG", codecs::DecodePng, codecs::EncodePng};
  const std::string ext = FileExtension(path);
  if (ext == ".bmp") return &kBmp;
  if (ext == ".jpg" || ext == ".jpeg") return &kJpeg;
  if (ext == ".gif") return &kGif;
  if (ext == ".png") return &kPng;
  return nullptr;
}

std::string UnsupportedMessage(const std::string& path) {
  const std::string ext = FileExtension(path);
  return (ext.empty() ? std::string("file name has no extension")
                      : "unsupported file extension \"" + ext + "\"") +
         " (supported: .bmp, .jpg, .jpeg, .gif, .png): " + path;
}

std::string SystemError(const std::string& what, int code, const std::string& path) {
  return what + " (" + std::strerror(code) + "): " + path;
}

bool LoadFile(const std::string& path, Bytes& data, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = SystemError("cannot open file", errno, path);
    return false;
  }
  struct stat info;
  bool ok = ::fstat(fd, &info) == 0;
  if (!ok) {
    error = SystemError("cannot read file", errno, path);
  } else if (!S_ISREG(info.st_mode)) {
    error = "not a regular file: " + path;
    ok = false;
  }
  data.clear();
  if (ok) data.reserve(std::size_t(info.st_size));
  char buffer[1 << 16];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = SystemError("cannot read file", errno, path);
      ok = false;
    }
    if (n <= 0) break;
    data.insert(data.end(), buffer, buffer + n);
  }
  ::close(fd);
  if (ok && data.empty()) {
    error = "file is empty: " + path;
    ok = false;
  }
  return ok;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const Bytes& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += std::size_t(n);
  }
  return true;
}

// Writes `data` to a temporary file beside `path` and renames it over
// `path`; on any failure the temporary file is removed.
bool ReplaceFile(const std::string& path, const Bytes& data, std::string& error) {
  std::string temp = FolderOf(path) + "/.tessarin-save-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = SystemError("cannot create a file in the folder", errno, path);
    return false;
  }
  struct stat existing;
  mode_t mode;
  if (::stat(path.c_str(), &existing) == 0) {
    mode = existing.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, data) && ::fsync(fd) == 0;
  int code = errno;
  if (::close(fd) != 0 && ok) ok = false, code = errno;
  if (!ok) {
    ::unlink(temp.c_str());
    error = SystemError("cannot write file", code, path);
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    code = errno;
    ::unlink(temp.c_str());
    error = SystemError("cannot replace file", code, path);
    return false;
  }
  return true;
}

}  // namespace

bool ReadPicture(const std::string& path, TBitmap& out, std::string& error) {
  const Codec* codec = CodecFor(path);
  if (codec == nullptr) {
    error = UnsupportedMessage(path);
    return false;
  }
  try {
    Bytes data;
    if (!LoadFile(path, data, error)) return false;
    TBitmap picture;
    if (!codec->decode(data, path, picture, error)) return false;
    out = std::move(picture);
    return true;
  } catch (const std::bad_alloc&) {
    error = codecs::FormatError(codec->name, "out of memory", path);
  } catch (const std::exception& e) {
    error = codecs::FormatError(codec->name, e.what(), path);
  }
  return false;
}

bool WritePicture(const std::string& path, const TBitmap& picture, std::string& error) {
  const Codec* codec = CodecFor(path);
  if (codec == nullptr) {
    error = UnsupportedMessage(path);
    return false;
  }
  if (picture.PixelFormat() != pf24bit) {
    error = codecs::FormatError(codec->name, "only 24-bit pictures can be written", path);
    return false;
  }
  if (picture.Width() < 1 || picture.Height() < 1) {
    error = codecs::FormatError(codec->name, "picture has no pixels", path);
    return false;
  }
  try {
    Bytes data;
    if (!codec->encode(picture, path, data, error)) return false;
    return ReplaceFile(path, data, error);
  } catch (const std::bad_alloc&) {
    error = codecs::FormatError(codec->name, "out of memory", path);
  } catch (const std::exception& e) {
    error = codecs::FormatError(codec->name, e.what(), path);
  }
  return false;
}

bool IsSupportedExtension(const std::string& path) { return CodecFor(path) != nullptr; }

bool CheckPictureExtension(const std::string& path, std::string& error) {
  if (CodecFor(path) != nullptr) return true;
  error = UnsupportedMessage(path);
  return false;
}
