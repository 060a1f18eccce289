// The pure string rules around picture file names: the file-name part and
// the lower-cased extension.
//
// The separator is "/"; on Windows backslash and colon separate too. The
// extension is looked for in the file-name part only, so a period in a
// folder name ("/home/u/my.pics/photo") gives no extension. Only ASCII
// letters are lower-cased; other bytes (UTF-8 included) pass unchanged.
#include <string>

#include "codecs/picture_io.h"

namespace {

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

}  // namespace

std::string FileNamePart(const std::string& path) {
  std::size_t start = path.size();
  while (start > 0 && !IsSeparator(path[start - 1])) --start;
  return path.substr(start);
}

std::string FileExtension(const std::string& path) {
  const std::string name = FileNamePart(path);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return "";
  std::string ext = name.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return ext;
}
