// The registry record of the last run under HKLM\SOFTWARE\Orvo\VBIOS.
#pragma once

#include <cstdint>
#include <string_view>

inline constexpr const char* kStateKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvo\\VBIOS";
// The record's own constant, deliberately not the program file's version (9.1.0.0).
inline constexpr const char* kToolVersion = "9.2.0.0";

// Writes State, then ToolVersion. A value that cannot be written is reported
// on standard output; the run's outcome and exit code stay as they are.
void recordState(int32_t code);

// As recordState, then DisplayVersion (completion exit only).
void recordCompletion(int32_t code, std::string_view displayVersion);
