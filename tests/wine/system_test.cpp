// The user's culture and the log's time stamp, standard output, system error
// texts, the owners' care for the last error, the UTF-8/UTF-16 boundary, the
// lock that keeps runs apart, the program's folder and its environment, and
// the desktop's shell that opens web pages.
//
// Wine fixes a process's culture from LANG when the Wine session starts it;
// a child started from inside Wine keeps its parent's culture whatever LANG
// it is given. So the culture case checks whichever culture this run has,
// and the build runs it once more with LANG=de_DE.UTF-8 and
// OVVB_WINE_EXPECT_LCID=1031, which makes a wrong culture a failure.
#include "platform/system.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which declares the types it builds on.
#include <sddl.h>
#include <unknwn.h>

#include <atomic>
#include <cwchar>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "platform/ascii_text.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/run_lock.h"
#include "platform/shell.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"
#include "tests/wine/wine_test_support.h"

namespace {

// The child's only argument: it gets no variable of ours.
constexpr const wchar_t* kStdoutChild = L"ovvb-wine-test-stdout-child";
constexpr const char* kStdoutText = "h\xC3\xA9llo\r\n\xE6\x97\xA5\xE6\x9C\xAC\n";

platform::LocalTime at(int year, int month, int day, int hour, int minute, int second) {
  platform::LocalTime time;
  time.year = year;
  time.month = month;
  time.day = day;
  time.hour = hour;
  time.minute = minute;
  time.second = second;
  return time;
}

// Runs before main() in the child only: standard output is then a pipe,
// as when a parent redirects the installer's output.
const bool kRunAsStdoutChild = [] {
  if (std::wcsstr(GetCommandLineW(), kStdoutChild) == nullptr) return false;
  platform::writeStandardOutput(kStdoutText);
  platform::writeStandardOutput("");
  platform::writeStandardOutput("end");
  ExitProcess(0);
}();

std::string selfProgram() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return platform::win32::toUtf8(std::wstring_view(path, length));
}

TEST(Culture, TimestampFollowsTheUsersCulture) {
  struct Case {
    uint32_t lcid;
    const char* evening;  // 2026-12-07 21:48:52
    const char* morning;  // 2027-01-05 00:05:09
  } cases[] = {
      {1033, "12/7/2026 9:48:52 PM", "1/5/2027 12:05:09 AM"},
      // Windows writes the German day and month with two digits, Wine 8
      // without; both are the system's own short date. The clock is 24-hour.
      {1031, "0?7\\.12\\.2026 21:48:52", "0?5\\.0?1\\.2027 00:05:09"},
  };
  const uint32_t lcid = platform::userLcid();
  const std::string expected = platform::environmentVariable("OVVB_WINE_EXPECT_LCID");
  if (!expected.empty()) {
    ASSERT_EQ(std::to_string(lcid), expected) << "is the locale of LANG generated on the host (locale -a)?";
  }
  const Case* row = nullptr;
  for (const Case& c : cases) {
    if (c.lcid == lcid) row = &c;
  }
  if (row == nullptr) GTEST_SKIP() << "no expectation for LCID " << lcid;
  const std::string evening = platform::logTimestamp(at(2026, 12, 7, 21, 48, 52));
  const std::string morning = platform::logTimestamp(at(2027, 1, 5, 0, 5, 9));
  EXPECT_TRUE(std::regex_match(evening, std::regex(row->evening))) << evening;
  EXPECT_TRUE(std::regex_match(morning, std::regex(row->morning))) << morning;
}

TEST(Culture, ImpossibleDateStillGetsAStamp) {
  // The system refuses to format 31 February; the log line must not vanish.
  EXPECT_FALSE(platform::logTimestamp(at(2026, 2, 31, 10, 0, 0)).empty());
  EXPECT_FALSE(platform::logTimestamp(at(1200, 13, 0, 25, 61, 61)).empty());
}

TEST(StandardOutput, PipeGetsTheExactBytes) {
  platform::ChildProcess process;
  platform::Error error;
  ASSERT_EQ(process.start({selfProgram(), platform::win32::toUtf8(kStdoutChild), true}, error),
            platform::StartOutcome::Started)
      << error.message;
  ASSERT_EQ(process.wait(60000, error), platform::WaitOutcome::Exited);
  EXPECT_EQ(process.takeOutput(), std::string(kStdoutText) + "end");
}

TEST(SystemErrors, MessagesAreSingleEntries) {
  for (const uint32_t code : {platform::kErrorFileNotFound, platform::kErrorPathNotFound,
                              platform::kErrorAccessDenied, platform::kErrorBadExeFormat, 0xDEADBEEFu}) {
    const platform::Error error = platform::makeError(code, "CreateFileW C:\\x");
    EXPECT_EQ(error.code, code);
    EXPECT_EQ(error.operation, "CreateFileW C:\\x");
    EXPECT_FALSE(error.message.empty()) << code;
    EXPECT_EQ(error.message.find_first_of("\r\n"), std::string::npos) << code << ": " << error.message;
  }
}

// A COM object whose final Release changes the last error, as a teardown
// making calls of its own does.
class LastErrorChangingObject : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override {
    SetLastError(ERROR_GEN_FAILURE);
    return --references;
  }
  ULONG references = 1;
};

// `owner.reset(); return lastError(...)` must report the caller's failure,
// not whatever the close or Release left behind.
TEST(Owners, ResetKeepsTheThreadsLastError) {
  constexpr DWORD kCallersError = ERROR_FILE_NOT_FOUND;
  // Handle values are multiples of 4 counted up from the bottom; this one is
  // never handed out, so closing it fails with ERROR_INVALID_HANDLE.
  const HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x00FFFFF0));
  SetLastError(kCallersError);
  ASSERT_FALSE(CloseHandle(bogus));
  ASSERT_NE(GetLastError(), kCallersError);

  platform::win32::ScopedHandle handle(bogus);
  SetLastError(kCallersError);
  handle.reset();
  EXPECT_EQ(GetLastError(), kCallersError);
  EXPECT_FALSE(handle);

  LastErrorChangingObject object;
  platform::win32::ScopedComPtr<IUnknown> pointer(&object);
  SetLastError(kCallersError);
  pointer.reset();
  EXPECT_EQ(GetLastError(), kCallersError);
  EXPECT_EQ(object.references, 0u);
}

TEST(WideText, ConversionsAtTheBoundary) {
  using platform::win32::toUtf8;
  using platform::win32::toWide;
  struct Case {
    std::string utf8;
    std::wstring wide;
  } cases[] = {
      {"", L""},
      {"C:\\Windows\\Log", L"C:\\Windows\\Log"},
      {"Größe", L"Gr\u00f6\u00dfe"},
      {"微软雅黑", L"\u5fae\u8f6f\u96c5\u9ed1"},
      {"\xF0\x9F\x98\x80", L"\xD83D\xDE00"},  // outside the BMP: a surrogate pair
      {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(toWide(c.utf8), c.wide) << c.utf8;
    EXPECT_EQ(toUtf8(c.wide), c.utf8) << c.utf8;
  }
  // Ill-formed input is replaced, not dropped with the rest of the text.
  EXPECT_EQ(toWide("ok\xFF"
                   "end"),
            L"ok\uFFFDend");
  EXPECT_EQ(toUtf8(std::wstring(L"x\xD800y")), "x\xEF\xBF\xBDy");
}

TEST(Paths, ProgramFolderAndEnvironment) {
  const std::string folder = platform::programFolder();
  ASSERT_GE(folder.size(), 3u);
  EXPECT_EQ(folder[1], ':') << folder;
  EXPECT_NE(folder.back(), '\\');
  EXPECT_TRUE(platform::directoryExists(folder));
  EXPECT_TRUE(platform::fileExists(winetest::binProgram("echo_args.exe")));

  // Longer than any first guess of a buffer, and not ASCII.
  const std::string value = std::string(3000, 'p') + "ß日";
  {
    winetest::ScopedEnvironment set("OVVB_WINE_TEST_VALUE", value);
    EXPECT_EQ(platform::environmentVariable("OVVB_WINE_TEST_VALUE"), value);
  }
  EXPECT_EQ(platform::environmentVariable("OVVB_WINE_TEST_VALUE"), "");
}

}  // namespace

// A name made first by someone who is not an administrator is not trusted; a
// second run waits for the first, and says so when that takes long; the lock
// of a run that died is taken over.
TEST(RunLock, DistrustsAStrangersNameWaitsForTheHolderAndTakesOverFromADeadOne) {
  constexpr wchar_t kName[] = L"Global\\Orvo.VBiosInstaller.Run";
  {
    // As a standard user could: owned by this process's user, open to everyone.
    platform::win32::ScopedHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()));
    alignas(TOKEN_USER) BYTE buffer[256];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size));
    wchar_t* user = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &user));
    const platform::win32::ScopedLocalMemory ownedUser(user);
    const std::wstring text = L"O:" + std::wstring(user) + L"D:(A;;GA;;;WD)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    const platform::win32::ScopedLocalMemory ownedDescriptor(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const platform::win32::ScopedHandle squatted(CreateMutexW(&attributes, TRUE, kName));
    ASSERT_TRUE(squatted);
    platform::RunLock lock;
    const platform::Error error = lock.acquire();
    EXPECT_EQ(error.code, platform::kErrorInvalidOwner) << error.operation;
    EXPECT_FALSE(lock.held());
  }

  auto first = std::make_unique<platform::RunLock>();
  ASSERT_FALSE(first->acquire().failed());
  std::atomic<bool> secondHeld{false}, secondTold{false};
  std::thread second([&] {
    platform::RunLock lock;
    secondHeld = !lock.acquire(100, [&] { secondTold = true; }).failed() && lock.held();
  });
  Sleep(300);
  EXPECT_FALSE(secondHeld.load()) << "taken while another run held it";
  EXPECT_TRUE(secondTold.load()) << "a long wait is not told";
  first.reset();
  second.join();
  EXPECT_TRUE(secondHeld.load());

  // A holder that ends without giving the lock up, as a killed run does.
  std::thread dying([] { ASSERT_FALSE((new platform::RunLock)->acquire().failed()); });
  dying.join();
  platform::RunLock next;
  EXPECT_FALSE(next.acquire().failed());
  EXPECT_TRUE(next.held());
}

// A page is started by the desktop's shell (Explorer; Wine's explorer.exe
// /desktop), never by this process: whatever opens it runs as the signed-in
// user. A program stands in for the browser and tells which process started
// it. Where the session has no desktop shell (Wine without a display), the
// page is not opened, for the same reason as asked beforehand.
TEST(Shell, AWebPageIsStartedByTheDesktopsShellOrNotAtAll) {
  const std::string witness = winetest::binProgram("shell_witness.exe");
  const std::string said = witness + ".parent";
  platform::ignoreFailure(platform::deleteFile(said));
  const std::string whyNot = platform::webPagesCannotOpen();
  const platform::WebPageOpening opening = platform::openWebAddress(witness);
  // A started witness writes within moments; one not started never does.
  std::string parent;
  for (int waited = 0; waited < 100 && parent.empty(); ++waited) {
    Sleep(100);
    std::string bytes;
    if (platform::readFile(said, bytes, 1024).failed() || bytes.empty() || bytes.size() % 2 != 0) continue;
    parent = platform::win32::toUtf8(
        std::wstring_view(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t)));
  }
  platform::ignoreFailure(platform::deleteFile(said));
  if (!whyNot.empty()) {
    EXPECT_FALSE(opening.opened);
    EXPECT_EQ(opening.reason, whyNot);
    EXPECT_EQ(parent, "") << "started although there is no desktop shell";
    return;
  }
  EXPECT_TRUE(opening.opened) << opening.reason;
  EXPECT_EQ(platform::lowerAscii(parent), "explorer.exe");
}
