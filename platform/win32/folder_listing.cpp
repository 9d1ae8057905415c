#include "platform/folder_listing.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/folder_walk.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

Error lastError(const char* function, std::string_view path) {
  const DWORD code = GetLastError();
  return makeError(code != 0 ? code : kErrorGenericFailure, std::string(function) + " " + std::string(path));
}

Error walkFolder(const std::string& path, const std::string& relative, uint32_t depth, FolderWalk& walk) {
  struct Found {
    std::string name;
    DWORD attributes;
  };
  std::vector<Found> names;
  WIN32_FIND_DATAW data{};
  win32::ScopedFindHandle search(FindFirstFileExW(win32::toWide(path + "\\*").c_str(), FindExInfoBasic, &data,
                                                  FindExSearchNameMatch, nullptr, 0));
  if (!search) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return {};  // an empty folder
    return lastError("FindFirstFileExW", path);
  }
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    // A flood of names is not read to its end.
    if (names.size() == walk.bounds.maxEntries - walk.entries)
      return makeError(kErrorImplementationLimit, path + "\\" + win32::toUtf8(name));
    names.push_back({win32::toUtf8(name), data.dwFileAttributes});
  } while (FindNextFileW(search.get(), &data));
  if (GetLastError() != ERROR_NO_MORE_FILES) return lastError("FindNextFileW", path);
  search.reset();
  std::sort(names.begin(), names.end(), [](const Found& a, const Found& b) { return a.name < b.name; });
  for (const Found& found : names) {
    const std::string inner = path + "\\" + found.name;
    const std::string innerRelative = relative.empty() ? found.name : relative + "/" + found.name;
    if (++walk.entries > walk.bounds.maxEntries) return makeError(kErrorImplementationLimit, inner);
    // Wine shows a Unix symbolic link as what it leads to, except by name.
    if ((found.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || isLinkOrReparsePoint(inner))
      return makeError(kErrorReparsePointEncountered, inner);
    if ((found.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      walk.files.push_back(innerRelative);
      continue;
    }
    if (depth + 1 > walk.bounds.maxDepth) return makeError(kErrorFilenameTooLong, inner);
    if (Error error = walkFolder(inner, innerRelative, depth + 1, walk); error.failed()) return error;
  }
  return {};
}

}  // namespace

Error walkFilesBelow(std::string_view folder, FolderWalk& walk) {
  const std::string top(folder);
  const DWORD attributes = GetFileAttributesW(win32::toWide(top).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return makeError(kErrorPathNotFound, "FindFirstFileExW " + top);
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || isLinkOrReparsePoint(top))
    return makeError(kErrorReparsePointEncountered, top);
  return walkFolder(top, "", 0, walk);
}

Error windowsPathOfNative(std::string_view nativePath, std::string& windowsPath) {
  windowsPath = nativePath;
  return {};
}

}  // namespace platform
