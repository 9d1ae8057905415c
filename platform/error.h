// Failure of a platform call, reported as a value instead of an exception.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Windows system error codes are the common currency of both backends, so the
// core can tell "file not found" from "path not found" the same way everywhere.
inline constexpr uint32_t kErrorInvalidFunction = 1;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorGenericFailure = 31;  // ERROR_GEN_FAILURE
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorInvalidName = 123;  // ERROR_INVALID_NAME
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorBadExeFormat = 193;
inline constexpr uint32_t kErrorFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE
inline constexpr uint32_t kErrorFileTooLarge = 223;
inline constexpr uint32_t kErrorWaitTimeout = 258;  // WAIT_TIMEOUT
inline constexpr uint32_t kErrorDirectory = 267;    // ERROR_DIRECTORY: not a folder
inline constexpr uint32_t kErrorOperationAborted = 995;
inline constexpr uint32_t kErrorImplementationLimit = 1292;
inline constexpr uint32_t kErrorInvalidOwner = 1307;
inline constexpr uint32_t kErrorUnsupportedType = 1630;
inline constexpr uint32_t kErrorReparsePointEncountered = 4395;

// [[nodiscard]]: a failure dropped by accident would be a silent one.
struct [[nodiscard]] Error {
  uint32_t code = 0;      // 0: no failure
  std::string operation;  // what was attempted, e.g. "CreateFileW C:\Windows\Log\x.txt"
  std::string message;    // the system's text for the code

  bool failed() const { return code != 0; }
};

// A failure the caller has chosen not to act on, named so that the choice
// is visible where it is made (Error is [[nodiscard]]).
inline void ignoreFailure(const Error&) {}

// Builds an Error for `operation` from a Windows error code, with the
// system's message text (FormatMessage on win32, a fixed table on posix).
Error makeError(uint32_t code, std::string operation);

// The multi-line detail entry that follows an "ERROR ..." log line: where
// the failure happened and why, standing in for a managed stack trace.
std::string describeFailure(const Error& error, const char* function);

// The same entry for a failure with no system error behind it:
// "<function>: <what>", then "   at <function>".
std::string describeProblem(const char* function, std::string_view what);

}  // namespace platform
