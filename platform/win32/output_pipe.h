// The pipe a child's standard output is read from. Its name holds 128 random
// bits, so no other user can create it first to make a tool's start fail or
// to sit between the tool and the installer; only the system and the
// administrators may open it; and a name that is taken, or a pipe that
// someone else connected to before the tool's end was opened, is replaced by
// a new one.
#pragma once

#include <windows.h>

#include <string>

#include "platform/error.h"
#include "platform/win32/scoped_handle.h"

namespace platform::win32 {

// Fills `buffer` with bytes from the system's random source; false if it
// could not.
using RandomBytes = bool (*)(void* buffer, ULONG size);
bool systemRandomBytes(void* buffer, ULONG size);

// Names tried before a start gives up: a random name taken by chance is
// unheard of, so more than a few means someone is taking every name.
inline constexpr int kPipeNameAttempts = 8;

struct OutputPipe {
  std::wstring name;
  ScopedHandle server;  // inbound, overlapped, one instance, local clients only
  ScopedHandle client;  // the write end for the child, inheritable
};

// Called between the making of a pipe and the opening of its client end.
using PipeMade = void (*)(const std::wstring& name);

// `random` is the system's source in the product, and nothing is called in
// between; a test passes its own.
Error createOutputPipe(OutputPipe& pipe, RandomBytes random = systemRandomBytes, PipeMade made = nullptr);

// The pipe name for 16 random bytes.
std::wstring outputPipeName(const unsigned char (&bits)[16]);

}  // namespace platform::win32
