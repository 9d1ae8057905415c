#include "platform/win32/output_pipe.h"

// After windows.h: RtlGenRandom (advapi32's SystemFunction036) is declared
// for user programs here. advapi32 is a KnownDLL, so importing it cannot
// load a planted file, unlike bcrypt.dll.
#include <ntsecapi.h>
#include <sddl.h>

namespace platform::win32 {

namespace {

constexpr DWORD kPipeBufferBytes = 64 * 1024;

// Protected: nothing inherited from elsewhere adds a reader.
constexpr const wchar_t* kAdministratorsOnly = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

class ScopedSecurityDescriptor {
 public:
  ScopedSecurityDescriptor() = default;
  ~ScopedSecurityDescriptor() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
  }
  ScopedSecurityDescriptor(const ScopedSecurityDescriptor&) = delete;
  ScopedSecurityDescriptor& operator=(const ScopedSecurityDescriptor&) = delete;
  PSECURITY_DESCRIPTOR* receive() { return &descriptor_; }
  PSECURITY_DESCRIPTOR get() const { return descriptor_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

Error failure(const char* operation) {
  const DWORD code = GetLastError();
  return makeError(code != 0 ? code : kErrorGenericFailure, operation);
}

}  // namespace

bool systemRandomBytes(void* buffer, ULONG size) { return RtlGenRandom(buffer, size) != FALSE; }

std::wstring outputPipeName(const unsigned char (&bits)[16]) {
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring name = L"\\\\.\\pipe\\ovvb-output-";
  for (const unsigned char byte : bits) {
    name += kHex[byte >> 4];
    name += kHex[byte & 0x0F];
  }
  return name;
}

Error createOutputPipe(OutputPipe& pipe, RandomBytes random, PipeMade made) {
  ScopedSecurityDescriptor descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdministratorsOnly, SDDL_REVISION_1,
                                                            descriptor.receive(), nullptr))
    return failure("ConvertStringSecurityDescriptorToSecurityDescriptorW (output pipe)");
  SECURITY_ATTRIBUTES secured{sizeof secured, descriptor.get(), FALSE};
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  DWORD lastCode = 0;
  for (int attempt = 0; attempt < kPipeNameAttempts; ++attempt) {
    unsigned char bits[16] = {};
    if (!random(bits, sizeof bits)) {
      const DWORD code = GetLastError();
      return makeError(code != 0 ? code : kErrorGenericFailure, "RtlGenRandom (output pipe name)");
    }
    std::wstring name = outputPipeName(bits);
    // FILE_FLAG_FIRST_PIPE_INSTANCE: a pipe of this name made by anyone
    // else is never joined; its name is simply not ours.
    ScopedHandle server(CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, kPipeBufferBytes,
        kPipeBufferBytes, 0, &secured));
    // Wine honours no FILE_FLAG_FIRST_PIPE_INSTANCE and joins a pipe made
    // beforehand with room for more instances: a pipe of ours has one.
    DWORD instances = 0;
    if (server && GetNamedPipeHandleStateW(server.get(), nullptr, &instances, nullptr, nullptr, nullptr, 0) &&
        instances != 1) {
      server.reset();
      SetLastError(ERROR_PIPE_BUSY);
    }
    if (server) {
      if (made != nullptr) made(name);
      // The one instance is ours: whoever connected first has it, and then
      // this open fails, never the tool's start.
      ScopedHandle client(CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
      if (client) {
        pipe.name = std::move(name);
        pipe.server = std::move(server);
        pipe.client = std::move(client);
        return {};
      }
      lastCode = GetLastError();
      if (lastCode != ERROR_PIPE_BUSY) return failure("CreateFileW (output pipe)");
      continue;
    }
    lastCode = GetLastError();
    if (lastCode != ERROR_ACCESS_DENIED && lastCode != ERROR_PIPE_BUSY)
      return makeError(lastCode != 0 ? lastCode : kErrorGenericFailure, "CreateNamedPipeW (output pipe)");
  }
  return makeError(lastCode, "CreateNamedPipeW (output pipe: " + std::to_string(kPipeNameAttempts) +
                                 " random names were all taken)");
}

}  // namespace platform::win32
