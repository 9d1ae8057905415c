// Texts the platform layer produces for the log: time stamps and failures.
#include <gtest/gtest.h>

#include <string>

#include "platform/culture_patterns.h"
#include "platform/error.h"
#include "platform/unicode_text.h"

namespace {

struct CultureCase {
  uint32_t lcid;
  const char* evening;  // 2026-12-07 21:48:52
  const char* morning;  // 2026-03-05 09:04:05
};

TEST(FormatGeneralDateTime, UsesTheGeneralPatternOfEachCulture) {
  const platform::LocalTime evening{2026, 12, 7, 21, 48, 52};
  const platform::LocalTime morning{2026, 3, 5, 9, 4, 5};
  const CultureCase cases[] = {
      {1033, "12/7/2026 9:48:52 PM", "3/5/2026 9:04:05 AM"},
      {2052, "2026/12/7 21:48:52", "2026/3/5 9:04:05"},
      {1028, "2026/12/7 \xE4\xB8\x8B\xE5\x8D\x88 09:48:52", "2026/3/5 \xE4\xB8\x8A\xE5\x8D\x88 09:04:05"},
      {1029, "07.12.2026 21:48:52", "05.03.2026 9:04:05"},
      {1031, "07.12.2026 21:48:52", "05.03.2026 09:04:05"},
      {1034, "07/12/2026 21:48:52", "05/03/2026 9:04:05"},
      {1035, "7.12.2026 21.48.52", "5.3.2026 9.04.05"},
      {1036, "07/12/2026 21:48:52", "05/03/2026 09:04:05"},
      {1040, "07/12/2026 21:48:52", "05/03/2026 09:04:05"},
      {1041, "2026/12/07 21:48:52", "2026/03/05 9:04:05"},
      {1042, "2026-12-07 \xEC\x98\xA4\xED\x9B\x84 9:48:52", "2026-03-05 \xEC\x98\xA4\xEC\xA0\x84 9:04:05"},
      {1043, "7-12-2026 21:48:52", "5-3-2026 09:04:05"},
      {1044, "07.12.2026 21:48:52", "05.03.2026 09:04:05"},
      {1046, "07/12/2026 21:48:52", "05/03/2026 09:04:05"},
      {1049, "07.12.2026 21:48:52", "05.03.2026 9:04:05"},
      {1053, "2026-12-07 21:48:52", "2026-03-05 09:04:05"},
      {1055, "7.12.2026 21:48:52", "5.03.2026 09:04:05"},
      // Cultures outside the table (de-AT, en-GB, an invalid id) read as en-US.
      {3079, "12/7/2026 9:48:52 PM", "3/5/2026 9:04:05 AM"},
      {2057, "12/7/2026 9:48:52 PM", "3/5/2026 9:04:05 AM"},
      {0, "12/7/2026 9:48:52 PM", "3/5/2026 9:04:05 AM"},
  };
  for (const CultureCase& c : cases) {
    EXPECT_EQ(platform::formatGeneralDateTime(evening, c.lcid), c.evening) << c.lcid;
    EXPECT_EQ(platform::formatGeneralDateTime(morning, c.lcid), c.morning) << c.lcid;
  }
}

TEST(FormatGeneralDateTime, TwelveHourClockAroundMidnightAndNoon) {
  EXPECT_EQ(platform::formatGeneralDateTime({2026, 1, 1, 0, 0, 0}, 1033), "1/1/2026 12:00:00 AM");
  EXPECT_EQ(platform::formatGeneralDateTime({2026, 1, 1, 12, 30, 0}, 1033), "1/1/2026 12:30:00 PM");
  EXPECT_EQ(platform::formatGeneralDateTime({2026, 1, 1, 0, 5, 0}, 1042),
            "2026-01-01 \xEC\x98\xA4\xEC\xA0\x84 12:05:00");
  EXPECT_EQ(platform::formatGeneralDateTime({987, 1, 1, 0, 5, 0}, 1053), "0987-01-01 00:05:00");
}

TEST(MakeError, CarriesTheWindowsTextForTheCode) {
  const platform::Error missing = platform::makeError(platform::kErrorFileNotFound, "CreateFileW C:\\x");
  EXPECT_TRUE(missing.failed());
  EXPECT_EQ(missing.operation, "CreateFileW C:\\x");
  EXPECT_EQ(missing.message, "The system cannot find the file specified.");
  EXPECT_EQ(platform::makeError(platform::kErrorPathNotFound, "x").message,
            "The system cannot find the path specified.");
  EXPECT_EQ(platform::makeError(platform::kErrorAccessDenied, "x").message, "Access is denied.");
  EXPECT_EQ(platform::makeError(4711, "x").message, "Unknown error 4711.");
  EXPECT_FALSE(platform::makeError(0, "x").failed());
}

TEST(DescribeFailure, GivesTwoCrLfLinesNamingTheFunction) {
  const platform::Error error =
      platform::makeError(platform::kErrorFileNotFound, "CopyFile Z:\\pkg\\rom.bin");
  EXPECT_EQ(platform::describeFailure(error, "VBiosConfigs.readConfigs"),
            "VBiosConfigs.readConfigs: CopyFile Z:\\pkg\\rom.bin failed: The system cannot find the file "
            "specified. (error 2)\r\n   at VBiosConfigs.readConfigs");
}

TEST(DescribeFailure, KeepsTheLogCrLfWhateverTheTextHolds) {
  platform::Error error;
  error.code = 1460;
  error.operation = "wait\nfor child";
  error.message = "line one\r\nline two\r\n";  // FormatMessage style, with a trailing break
  const std::string text = platform::describeFailure(error, nullptr);
  EXPECT_EQ(text,
            "(unknown): wait\r\nfor child failed: line one\r\nline two (error 1460)\r\n   at (unknown)");
}

TEST(Utf16, OneConversionBothWaysWithEachBadSequenceAsOneReplacement) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
    std::string back;  // what the UTF-16 converts back to
  };
  const Case cases[] = {
      {"m\xC3\xBC", u"m\u00FC", "m\xC3\xBC"},
      {"\xD0\x9F\xD0\xB0", u"\u041F\u0430", "\xD0\x9F\xD0\xB0"},
      {"\xF0\x9F\x98\x80", u"\U0001F600", "\xF0\x9F\x98\x80"},
      {"a\xFC" "b", u"a\uFFFDb", "a\xEF\xBF\xBD" "b"},                                        // a Latin-1 byte
      {"\xE2\x82", u"\uFFFD", "\xEF\xBF\xBD"},                                          // cut short
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(platform::utf16ToUtf8(c.utf16), c.back) << c.utf8;
  }
  // A lone surrogate in UTF-16 (a Windows name may hold one) is replaced, not dropped.
  EXPECT_EQ(platform::utf16ToUtf8(std::u16string(u"x") + char16_t(0xD800) + u"y"), "x\xEF\xBF\xBD" "y");
}

}  // namespace
