#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/command_line.h"

namespace {

using Arguments = std::vector<std::string>;

struct SplitCase {
  const char* text;
  Arguments expected;
};

TEST(SplitWindowsCommandLine, FollowsTheMsvcRuntimeRules) {
  const SplitCase cases[] = {
      {"", {}},
      {"   \t ", {}},
      {"-fa -p 0", {"-fa", "-p", "0"}},
      {"  lead   and\ttrail  ", {"lead", "and", "trail"}},
      {"-fa -p 0 \"C:\\ProgramData\\Orvo\\VBIOS\\my rom.bin\"",
       {"-fa", "-p", "0", "C:\\ProgramData\\Orvo\\VBIOS\\my rom.bin"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\"", {""}},
      {"a \"\" b", {"a", "", "b"}},
      // Backslashes are literal unless they come before a quote.
      {"C:\\a\\b\\", {"C:\\a\\b\\"}},
      {"a\\\\b", {"a\\\\b"}},
      // 2n backslashes + quote: n backslashes, the quote toggles quoting.
      {"\"a\\\\\" b", {"a\\", "b"}},
      {"\"C:\\dir\\\\\"", {"C:\\dir\\"}},
      // 2n+1 backslashes + quote: n backslashes and a literal quote.
      {"a\\\"b", {"a\"b"}},
      {"a\\\\\\\"b", {"a\\\"b"}},
      {"\"say \\\"hi\\\"\"", {"say \"hi\""}},
      // "" inside quotes is a literal quote and quoting continues.
      {"\"a\"\"b c\"", {"a\"b c"}},
      {"\"unterminated quote", {"unterminated quote"}},
      {"install \"Z:\\pkg\\amdtools.inf\" *AMDTOOLSDEV",
       {"install", "Z:\\pkg\\amdtools.inf", "*AMDTOOLSDEV"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(platform::splitWindowsCommandLine(c.text), c.expected) << "text: [" << c.text << "]";
  }
}

struct QuoteCase {
  const char* argument;
  const char* quoted;
};

TEST(QuoteWindowsArgument, QuotesOnlyWhatNeedsIt) {
  const QuoteCase cases[] = {
      {"plain", "plain"},
      {"C:\\dir\\file.bin", "C:\\dir\\file.bin"},
      {"", "\"\""},
      {"two words", "\"two words\""},
      {"tab\there", "\"tab\there\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"C:\\my dir\\", "\"C:\\my dir\\\\\""},
      {"a\\\"b", "\"a\\\\\\\"b\""},
  };
  for (const QuoteCase& c : cases) {
    EXPECT_EQ(platform::quoteWindowsArgument(c.argument), c.quoted) << "argument: [" << c.argument << "]";
  }
  // Always: a path the tool's command line puts in quotes whether or not it has blanks.
  const QuoteCase always[] = {
      {"C:\\pkg\\amdtools.inf", "\"C:\\pkg\\amdtools.inf\""},
      {"C:\\my dir\\", "\"C:\\my dir\\\\\""},
      {"a\"b", "\"a\\\"b\""},
  };
  for (const QuoteCase& c : always) {
    EXPECT_EQ(platform::quoteWindowsArgument(c.argument, platform::Quoting::Always), c.quoted)
        << "argument: [" << c.argument << "]";
  }
}

TEST(QuoteWindowsArgument, SplittingAJoinedLineGivesTheArgumentsBack) {
  const Arguments arguments = {"-fa",
                               "C:\\Program Files\\x\\",
                               "",
                               "quote\"inside",
                               "back\\\\slash\\",
                               "\\\"",
                               "tab\tand space",
                               "\xE4\xB8\x8A\xE5\x8D\x88 unicode"};
  std::string line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line += ' ';
    line += platform::quoteWindowsArgument(argument);
  }
  EXPECT_EQ(platform::splitWindowsCommandLine(line), arguments) << line;
}

}  // namespace
