// File names as the program spells them: UTF-8 strings whose folders are
// separated by '/' everywhere and also by '\' on Windows, where a drive
// letter ("C:pic.tga") may come first.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace kovrel {

enum class PathStyle { kPosix, kWindows };

#if defined(_WIN32)
constexpr PathStyle kNativePathStyle = PathStyle::kWindows;
#else
constexpr PathStyle kNativePathStyle = PathStyle::kPosix;
#endif

// Where the file name in path starts: just after its last folder separator
// ('/', and under kWindows '\' or a drive letter's ':'), or 0 when it has
// none.
std::size_t fileNameStart(const std::string& path, PathStyle style = kNativePathStyle);

// Opens path for reading in binary mode as std::fopen does; on Windows the
// UTF-8 name is opened through the wide file functions, so that names
// outside the console's code page open too. Null when it cannot be opened.
std::FILE* openForReading(const std::string& path);

#if defined(_WIN32)
// UTF-8 to UTF-16 and back, for the wide Windows functions. Bytes that are
// not UTF-8 come out as U+FFFD.
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);
#endif

}  // namespace kovrel
