// What the stand-ins for the vendor tools share: their arguments, the
// simulated machine they read, printing that reaches the installer at once,
// and waiting the way [time] scale asks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "simulated/machine.h"

namespace standin {

// The arguments after the program name, as UTF-8.
std::vector<std::string> arguments(int argc, char** argv);

// One line of output, flushed so that a parent reading a pipe sees it even
// when this process is killed afterwards.
void printLine(std::string_view line);

// A size from machine.ini: bytes, or with a K, M or G suffix (64M); 0 when
// unreadable, and at most 4 GiB.
uint64_t sizeBytes(std::string_view text);

// `bytes` of empty lines (LF only), written in large pieces: a tool that
// floods its output.
void printEmptyLines(uint64_t bytes);

// Seconds from machine.ini as milliseconds: negative or unreadable values
// are no wait, and a day is the most any stand-in waits.
uint32_t durationMs(double seconds);

// Waits `ms` milliseconds times [time] scale and records the wait.
void waitScaled(uint32_t ms);

// Each `[section] key = <target> | <source>` of machine.ini: copies the file
// <source> over <target> (Windows paths), as a program of the user could
// while the installer runs. A line that is not of that form, or a copy that
// fails, is reported on the output and otherwise ignored.
void replaceFiles(const simulated::MachineIni& ini, std::string_view section, std::string_view key);

// A tool that hangs: real one-second sleeps, whatever the scale, until the
// parent kills it.
[[noreturn]] void hangUntilKilled();

}  // namespace standin
