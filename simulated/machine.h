// The simulated machine: a folder (OVVB_MACHINE, default "machine" beside
// the program) holding machine.ini, registry.reg, drive_c/ and trace.jsonl.
// Used by the posix platform, the simulated hardware and the stand-in tools;
// never linked into the production Windows program.
//
// machine.ini is read and updated through simulated/machine_ini.h, the trace
// written and read through simulated/trace.h; this header names the folder
// itself and how its files are read and replaced.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "simulated/machine_ini.h"
#include "simulated/trace.h"
#include "simulated/trace_reader.h"

namespace simulated {

// Native path of the machine root, created empty when missing.
std::string machineRoot();

// A file of the machine root ("machine.ini", "trace.jsonl"), the root created
// when missing.
std::filesystem::path machineFile(std::string_view name);

// The whole file into `out`; false when it is missing, unreadable or larger
// than `maxBytes` (a machine's files are written by people, emulators and
// tests, and an absurd size is not one of them).
bool readWholeFile(const std::filesystem::path& path, std::uintmax_t maxBytes, std::string& out);

// Writes `contents` beside `target` and puts it in the target's place in one
// step, so a reader sees the old file or the new one, never a part.
bool replaceWholeFile(const std::filesystem::path& target, std::string_view contents);

}  // namespace simulated
