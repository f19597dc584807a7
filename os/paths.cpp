#include "os/paths.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kovrel {

std::size_t fileNameStart(const std::string& path, PathStyle style) {
  const bool windows = style == PathStyle::kWindows;
  for (std::size_t i = path.size(); i-- > 0;) {
    if (path[i] == '/' || (windows && path[i] == '\\')) {
      return i + 1;
    }
  }
  // "C:pic.tga" is pic.tga in drive C's current folder.
  const bool driveLetter = windows && path.size() >= 2 && path[1] == ':' &&
                           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return driveLetter ? 2 : 0;
}

#if defined(_WIN32)
std::wstring widen(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
  return bytes;
}

std::FILE* openForReading(const std::string& path) { return _wfopen(widen(path).c_str(), L"rb"); }
#else
std::FILE* openForReading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }
#endif

}  // namespace kovrel
