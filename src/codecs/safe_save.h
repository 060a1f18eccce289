// Saving a file safely (internal to the codecs library): the checks on a
// save's target and the replacement of the target by a complete new file.
// Every message names `path`, the name the caller gave.
#pragma once

#include <string>

#include "codecs/codec.h"

namespace codecs {

// "<what> (<strerror(code)>): <path>"
std::string SystemError(const std::string& what, int code, const std::string& path);

// The file a save to `path` replaces: `path` itself, or the file a chain of
// symbolic links starting there leads to (which need not exist yet); then
// refuses a target that exists but is no regular file, or that the user
// may not write.
bool ResolveSaveTarget(const std::string& path, std::string& target, std::string& error);

// Refuses a target whose folder is missing, is no folder, or takes no new
// files from this user.
bool CheckSaveFolder(const std::string& path, const std::string& target, std::string& error);

// Writes `data` to a new file beside `target` and renames it over `target`;
// the file at `target` is always the old one or the complete new one, and
// on any failure nothing new is left in the folder.
bool ReplaceFile(const std::string& path, const std::string& target, ByteView data, std::string& error);

}  // namespace codecs
