// Reading and writing picture files: the one place that picks the format
// from the extension and touches the file system.
//
// Reading loads the whole file, hands it to the format's decoder and moves
// the result into the caller's bitmap only when the decode succeeded.
// Refuses: an unsupported extension (before the file is opened), a path
// that is missing, unreadable, not a regular file, or empty; and whatever
// the decoder refuses (the size limits, the memory budget, damaged data).
//
// Writing encodes into memory first; then the bytes go to a new file in the
// target's folder that has no name yet (O_TMPFILE; where the file system
// cannot do that, a hidden temporary name), which is flushed to disk, named
// and renamed over the target only when everything succeeded. The file at
// the target is therefore always the old one or the complete new one, also
// when the program is killed in the middle, and a failure leaves nothing
// behind. (A kill in the two system calls between naming the finished file
// and renaming it leaves a hidden temporary file; the next save into that
// folder removes it.) A symbolic link is written through: the file it leads to is
// replaced and the link stays. A replaced file keeps its permission bits
// (and its owner and group where the user may set them); a new one gets
// 0666 less the umask. Refuses, before anything is encoded: an unsupported
// extension, a picture that is not pf24bit, has no pixels or is beyond the
// picture limits, a target that is not a regular file, and a target the
// user may not write (as cp refuses it; the folder being writable is not
// enough).
#include "codecs/picture_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "codecs/codec.h"
#include "codecs/orientation.h"

namespace {

using codecs::Bytes;
using codecs::ByteView;

struct Codec {
  const char* name;
  bool (*decode)(ByteView, const codecs::DecodeContext&, TBitmap&, std::string&);
  bool (*encode)(const TBitmap&, const codecs::EncodeContext&, Bytes&, std::string&);
  bool metadata;                                  // the format carries EXIF, XMP or a colour profile
  const char* extensions[2];                      // lower-cased, with the period; the second may be null
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

std::string SystemError(const std::string& what, int code, const std::string& path) {
  return what + " (" + std::strerror(code) + "): " + path;
}

std::atomic<std::uint64_t> gDecodeBudget{kDefaultDecodeMemoryBudget};
std::atomic<WriteFunction> gWrite{nullptr};

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
  WriteFunction write = gWrite.load();
  if (write == nullptr) write = ::write;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += std::size_t(n);
  }
  return true;
}

// The file a save to `path` replaces: `path` itself, or the file a chain of
// symbolic links starting there leads to (which need not exist yet).
bool FollowLinks(const std::string& path, std::string& target, std::string& error) {
  target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
    char link[PATH_MAX];
    const ssize_t n = ::readlink(target.c_str(), link, sizeof link - 1);
    if (n < 0) {
      error = SystemError("cannot follow the symbolic link", errno, path);
      return false;
    }
    const std::string next(link, std::size_t(n));
    target = next.front() == '/' ? next : FolderOf(target) + "/" + next;
  }
  error = SystemError("cannot follow the symbolic link", ELOOP, path);
  return false;
}

// A new, unnamed file in `folder` (O_TMPFILE), or -1 with errno set;
// errno is EOPNOTSUPP where the file system cannot make one.
int OpenUnnamed(const std::string& folder, mode_t mode) {
#ifdef O_TMPFILE
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  if (fd >= 0) return fd;
  if (errno == EISDIR || errno == EINVAL) errno = EOPNOTSUPP;  // kernels and file systems without it
  return -1;
#else
  (void)folder, (void)mode;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

// Temporary files are named ".tessarin-save-PID-..." after the process
// that writes them.
constexpr char kTemporaryPrefix[] = ".tessarin-save-";

// "FOLDER/.tessarin-save-PID-": what every temporary name of this process
// in `folder` starts with, and what RemoveStaleTemporaries parses.
std::string TemporaryStem(const std::string& folder) {
  return folder + "/" + kTemporaryPrefix + std::to_string(::getpid()) + "-";
}

// A name in `folder` that no file has yet.
std::string FreshName(const std::string& folder) {
  static std::mt19937_64 rng{std::random_device{}()};
  char suffix[17];
  std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(rng()));
  return TemporaryStem(folder) + suffix;
}

// Removes the temporary files in `folder` of processes that no longer run.
// A save killed between naming its finished file and renaming it (two
// system calls) leaves one behind; the next save into the folder takes it
// away. Files of running processes, and names that do not parse, stay.
void RemoveStaleTemporaries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  const std::size_t prefix = sizeof kTemporaryPrefix - 1;
  while (const dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strncmp(name, kTemporaryPrefix, prefix) != 0) continue;
    char* end = nullptr;
    const long pid = std::strtol(name + prefix, &end, 10);
    if (end == name + prefix || *end != '-' || pid <= 0 || pid == long(::getpid())) continue;
    if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;  // still running, or not ours to know
    ::unlinkat(::dirfd(dir), name, 0);
  }
  ::closedir(dir);
}

// Why a replacement failed: the message and errno, or, with `retryNamed`,
// that the unnamed file could not be given a name here (no /proc, or a file
// system without the links it needs) and a temporary name should be tried.
struct WriteFailure {
  const char* what = nullptr;
  int code = 0;
  bool retryNamed = false;
};

// Writes `data` to a new file in `folder` with `mode` (and the owner of
// `existing`, when given and allowed), then renames it to `target`. With
// `unnamed` the file has no name until it is complete (O_TMPFILE), else a
// hidden temporary one. On failure nothing new is left in the folder.
bool WriteAndRename(const std::string& folder, const std::string& target, mode_t mode,
                    const struct stat* existing, const Bytes& data, bool unnamed, WriteFailure& failure) {
  std::string named;  // the temporary name, once the file has one
  int fd = -1;
  if (unnamed) {
    fd = OpenUnnamed(folder, mode);
    if (fd < 0 && errno == EOPNOTSUPP) {
      failure.retryNamed = true;
      return false;
    }
  } else {
    named = TemporaryStem(folder) + "XXXXXX";
    fd = ::mkstemp(named.data());
    if (fd < 0) named.clear();
  }
  if (fd < 0) {
    failure = {"cannot create a file in the folder", errno};
    return false;
  }
  auto fail = [&](const char* what, int code) {
    if (fd >= 0) ::close(fd);
    if (!named.empty()) ::unlink(named.c_str());
    failure.what = what, failure.code = code;
    return false;
  };
  // Keeping the owner needs privileges the user may not have; the
  // permission bits are kept either way.
  if (existing != nullptr && ::fchown(fd, existing->st_uid, existing->st_gid) != 0 &&
      ::fchown(fd, static_cast<uid_t>(-1), existing->st_gid) != 0) {
    // Neither owner nor group can be kept: the new file is the user's own.
  }
  if (::fchmod(fd, mode) != 0) return fail("cannot write file", errno);
  if (!WriteAll(fd, data) || ::fsync(fd) != 0) return fail("cannot write file", errno);
  if (unnamed) {
    // Give the finished file a name beside the target, then rename it.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0;; ++attempt) {
      named = FreshName(folder);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
      const int code = errno;
      named.clear();
      if (code == EEXIST && attempt < 10) continue;
      if (code == ENOENT || code == EPERM || code == EACCES || code == EOPNOTSUPP || code == EXDEV)
        failure.retryNamed = true;
      return fail("cannot write file", code);
    }
  }
  if (::close(fd) != 0) {
    fd = -1;
    return fail("cannot write file", errno);
  }
  fd = -1;
  if (::rename(named.c_str(), target.c_str()) != 0) return fail("cannot replace file", errno);
  // Make the rename itself last across a power cut.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

// Writes `data` to a new file beside `target` and renames it over
// `target`; on any failure nothing new is left in the folder. `path` is
// the name the caller gave, for messages.
bool ReplaceFile(const std::string& path, const std::string& target, const Bytes& data, std::string& error) {
  struct stat existing;
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  mode_t mode;
  if (exists) {
    mode = existing.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  const std::string folder = FolderOf(target);
  RemoveStaleTemporaries(folder);
  WriteFailure failure;
  if (WriteAndRename(folder, target, mode, exists ? &existing : nullptr, data, true, failure)) return true;
  if (failure.retryNamed) {
    failure = {};
    if (WriteAndRename(folder, target, mode, exists ? &existing : nullptr, data, false, failure)) return true;
  }
  error = SystemError(failure.what, failure.code, path);
  return false;
}

// Refuses a target that exists but is no regular file, or that the user may
// not write; a target that does not exist yet is fine here.
bool CheckTarget(const std::string& path, const std::string& target, std::string& error) {
  struct stat info;
  if (::stat(target.c_str(), &info) != 0) return true;
  if (!S_ISREG(info.st_mode)) {
    error = "not a regular file: " + path;
    return false;
  }
  if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    error = SystemError("cannot write file", errno, path);
    return false;
  }
  return true;
}

// Decodes, then reads the metadata of a JPEG or PNG file and stands the
// picture upright by its EXIF orientation. Metadata that cannot be read is
// dropped with a warning; the picture still opens.
bool Decode(const Codec& codec, ByteView data, const std::string& path, TBitmap& out,
            TPictureMetadata* metadata, std::string& error, std::vector<std::string>* warnings) {
  try {
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
  } catch (const std::bad_alloc&) {
    error = codecs::FormatError(codec.name, "out of memory", path);
  } catch (const std::exception& e) {
    error = codecs::FormatError(codec.name, e.what(), path);
  }
  return false;
}

// Runs `body`, turning any exception into a message naming `path`. The
// work of the public functions below runs inside, so that running out of
// memory anywhere (even while a message is formed) is an error like any
// other; if not even the message fits, it is a bare "out of memory".
template <typename Body>
bool Guarded(const std::string& path, std::string& error, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
  } catch (const std::exception& e) {
    try {
      error = std::string(e.what()) + ": " + path;
      return false;
    } catch (...) {
    }
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

void SetWriteFunctionForTesting(WriteFunction write) {
  gWrite.store(write);
}

bool ReadPicture(const std::string& path, TBitmap& out, std::string& error) {
  return ReadPicture(path, out, nullptr, error, nullptr);
}

bool ReadPicture(const std::string& path, TBitmap& out, TPictureMetadata* metadata, std::string& error,
                 std::vector<std::string>* warnings) {
  return Guarded(path, error, [&] {
    const Codec* codec = CodecOrError(path, error);
    if (codec == nullptr) return false;
    Bytes data;
    try {
      if (!LoadFile(path, data, error)) return false;
    } catch (const std::bad_alloc&) {
      error = codecs::FormatError(codec->name, "out of memory", path);
      return false;
    }
    return Decode(*codec, data, path, out, metadata, error, warnings);
  });
}

bool DecodePicture(std::span<const std::uint8_t> data, const std::string& path, TBitmap& out,
                   std::string& error, std::vector<std::string>* warnings) {
  return Guarded(path, error, [&] {
    const Codec* codec = CodecOrError(path, error);
    if (codec == nullptr) return false;
    return Decode(*codec, data, path, out, nullptr, error, warnings);
  });
}

bool WritePicture(const std::string& path, const TBitmap& picture, std::string& error) {
  return WritePicture(path, picture, TWriteOptions{}, error);
}

bool WritePicture(const std::string& path, const TBitmap& picture, const TWriteOptions& options,
                  std::string& error, std::vector<std::string>* warnings) {
  return Guarded(path, error, [&] {
    const Codec* codec = CodecOrError(path, error);
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
    try {
      std::string target;
      if (!FollowLinks(path, target, error) || !CheckTarget(path, target, error)) return false;
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
      return ReplaceFile(path, target, data, error);
    } catch (const std::bad_alloc&) {
      error = codecs::FormatError(codec->name, "out of memory", path);
    } catch (const std::exception& e) {
      error = codecs::FormatError(codec->name, e.what(), path);
    }
    return false;
  });
}

bool CheckPictureTarget(const std::string& path, std::string& error) {
  return Guarded(path, error, [&] {
    if (!CheckPictureExtension(path, error)) return false;
    std::string target;
    if (!FollowLinks(path, target, error) || !CheckTarget(path, target, error)) return false;
    const std::string folder = FolderOf(target);
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0) {
      error = SystemError("cannot create a file in the folder", errno, path);
      return false;
    }
    if (!S_ISDIR(info.st_mode)) {
      error = SystemError("cannot create a file in the folder", ENOTDIR, path);
      return false;
    }
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
      error = SystemError("cannot create a file in the folder", errno, path);
      return false;
    }
    return true;
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
