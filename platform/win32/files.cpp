#include "platform/files.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/win32/last_error.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

// WriteFile and ReadFile take DWORD lengths; larger transfers go in pieces.
constexpr size_t kMaxTransfer = size_t{1} << 30;
constexpr size_t kReadChunk = size_t{64} << 10;

using win32::lastError;

DWORD attributesOf(std::string_view path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(win32::toWide(path).c_str());
}

Error writeAll(HANDLE file, std::string_view bytes, const char* function, std::string_view path) {
  while (!bytes.empty()) {
    const DWORD piece = static_cast<DWORD>(std::min(bytes.size(), kMaxTransfer));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), piece, &written, nullptr)) return lastError(function, path);
    if (written == 0) return makeError(kErrorGenericFailure, std::string(function) + " " + std::string(path));
    bytes.remove_prefix(written);
  }
  return {};
}

}  // namespace

bool fileExists(std::string_view path) {
  const DWORD attributes = attributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool directoryExists(std::string_view path) {
  const DWORD attributes = attributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isLinkOrReparsePoint(std::string_view path) {
  const DWORD attributes = attributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

Error createDirectories(std::string_view path) {
  try {
    std::wstring wide = win32::toWide(path);
    while (wide.size() > 1 && isPathSeparator(wide.back())) wide.pop_back();
    if (wide.empty()) return makeError(kErrorPathNotFound, "CreateDirectoryW " + std::string(path));

    // Walk up to the nearest folder that exists, then create downwards, so
    // each failure names the exact folder that could not be made.
    std::vector<std::wstring> missing;
    std::wstring current = wide;
    for (;;) {
      const DWORD attributes = GetFileAttributesW(current.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES) {
        // A file in the way: as CreateDirectoryW says it, "already exists"
        // for the folder itself, "path not found" for one below the file.
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
          if (missing.empty())
            return makeError(ERROR_ALREADY_EXISTS, "CreateDirectoryW " + win32::toUtf8(current));
          return makeError(ERROR_PATH_NOT_FOUND, "CreateDirectoryW " + win32::toUtf8(missing.back()));
        }
        break;
      }
      missing.push_back(current);
      const size_t separator = current.find_last_of(L"\\/");
      // Stop at a drive ("C:") or the start of a UNC or device prefix.
      if (separator == std::wstring::npos || separator == 0) break;
      current.resize(separator);
      while (current.size() > 1 && isPathSeparator(current.back())) current.pop_back();
      if (current.size() == 2 && current[1] == L':') break;
    }

    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
      if (CreateDirectoryW(folder->c_str(), nullptr)) continue;
      const DWORD code = GetLastError();
      // Someone else may have made it in the meantime; a file of that name
      // is still a failure.
      if (code == ERROR_ALREADY_EXISTS) {
        const DWORD attributes = GetFileAttributesW(folder->c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
      }
      return makeError(code, "CreateDirectoryW " + win32::toUtf8(*folder));
    }
    return {};
  } catch (const std::bad_alloc&) {
    return makeError(ERROR_NOT_ENOUGH_MEMORY, "CreateDirectoryW " + std::string(path));
  }
}

Error copyFile(std::string_view from, std::string_view to) {
  if (CopyFileW(win32::toWide(from).c_str(), win32::toWide(to).c_str(), FALSE)) return {};
  return lastError("CopyFileW", std::string(from) + " -> " + std::string(to));
}

Error deleteFile(std::string_view path) {
  if (DeleteFileW(win32::toWide(path).c_str())) return {};
  return lastError("DeleteFileW", path);
}

Error readFile(std::string_view path, std::string& contents, size_t maxBytes) {
  contents.clear();
  // Shared for writing and deleting too: the log is read while it is open
  // for appending.
  win32::ScopedHandle file(CreateFileW(win32::toWide(path).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return lastError("CreateFileW", path);

  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return lastError("GetFileSizeEx", path);
  if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
    return makeError(kErrorFileTooLarge, "ReadFile " + std::string(path));
  }
  try {
    contents.reserve(static_cast<size_t>(size.QuadPart));
    // Read to the end rather than to the size seen above: the file may grow
    // meanwhile, and the bound must hold for what is actually read.
    std::string chunk(kReadChunk, '\0');
    for (;;) {
      DWORD read = 0;
      if (!ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
        const Error error = lastError("ReadFile", path);
        contents.clear();
        return error;
      }
      if (read == 0) break;
      if (read > maxBytes - contents.size()) {
        contents.clear();
        return makeError(kErrorFileTooLarge, "ReadFile " + std::string(path));
      }
      contents.append(chunk.data(), read);
    }
    return {};
  } catch (const std::bad_alloc&) {
    contents.clear();
    return makeError(ERROR_NOT_ENOUGH_MEMORY, "ReadFile " + std::string(path));
  }
}

Error writeFileAtomic(std::string_view path, std::string_view contents) {
  try {
    const std::wstring target = win32::toWide(path);
    // Beside the target, so the rename stays on one volume; process id and
    // counter keep two writers from sharing a temporary file.
    static std::atomic<unsigned> counter{0};
    const std::wstring temporary = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(counter.fetch_add(1)) + L".tmp";
    const std::string temporaryText = win32::toUtf8(temporary);
    {
      win32::ScopedHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file) return lastError("CreateFileW", temporaryText);
      Error error = writeAll(file.get(), contents, "WriteFile", temporaryText);
      if (!error.failed() && !FlushFileBuffers(file.get()))
        error = lastError("FlushFileBuffers", temporaryText);
      if (error.failed()) {
        file.reset();
        DeleteFileW(temporary.c_str());
        return error;
      }
    }
    if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      const Error error = lastError("MoveFileExW", temporaryText + " -> " + std::string(path));
      DeleteFileW(temporary.c_str());
      return error;
    }
    return {};
  } catch (const std::bad_alloc&) {
    return makeError(ERROR_NOT_ENOUGH_MEMORY, "writeFileAtomic " + std::string(path));
  }
}

struct AppendFile::Impl {
  win32::ScopedHandle file;
  std::string path;
};

AppendFile::AppendFile() = default;
AppendFile::~AppendFile() = default;
AppendFile::AppendFile(AppendFile&&) noexcept = default;
AppendFile& AppendFile::operator=(AppendFile&&) noexcept = default;

Error AppendFile::open(std::string_view path, Creation creation) {
  if (!impl_) {
    impl_.reset(new (std::nothrow) Impl);
    if (!impl_) return makeError(ERROR_NOT_ENOUGH_MEMORY, "CreateFileW " + std::string(path));
  }
  impl_->file.reset();
  try {
    impl_->path = path;
  } catch (const std::bad_alloc&) {
    return makeError(ERROR_NOT_ENOUGH_MEMORY, "CreateFileW " + std::string(path));
  }
  // A link in the file's place is never written through: asked before
  // anything is opened or created through the name, and of the handle after.
  if (isLinkOrReparsePoint(path))
    return makeError(kErrorReparsePointEncountered, "CreateFileW " + std::string(path));
  // Append-only access makes every write land at the end, even if another
  // program has extended the file. Every kind of sharing, so that no reader
  // is turned away, whatever it asks for; only a holder that lets no writer
  // in keeps this open out.
  const DWORD disposition = creation == Creation::CreateNew ? CREATE_NEW : OPEN_ALWAYS;
  impl_->file.reset(CreateFileW(win32::toWide(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!impl_->file) {
    if (GetLastError() == ERROR_FILE_EXISTS)
      return makeError(kErrorAlreadyExists, "CreateFileW " + std::string(path));
    return lastError("CreateFileW", path);
  }
  BY_HANDLE_FILE_INFORMATION opened{};
  if (GetFileInformationByHandle(impl_->file.get(), &opened) &&
      (opened.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    impl_->file.reset();
    return makeError(kErrorReparsePointEncountered, "CreateFileW " + std::string(path));
  }
  return {};
}

bool AppendFile::isOpen() const { return impl_ && impl_->file.isValid(); }

Error AppendFile::write(std::string_view bytes) {
  if (!isOpen()) return makeError(ERROR_INVALID_HANDLE, "WriteFile (log not open)");
  return writeAll(impl_->file.get(), bytes, "WriteFile", impl_->path);
}

Error AppendFile::flush() {
  if (!isOpen()) return makeError(ERROR_INVALID_HANDLE, "FlushFileBuffers (log not open)");
  if (FlushFileBuffers(impl_->file.get())) return {};
  return lastError("FlushFileBuffers", impl_->path);
}

}  // namespace platform
