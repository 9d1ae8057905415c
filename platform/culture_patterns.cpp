#include "platform/culture_patterns.h"

#include <string_view>

namespace platform {

namespace {

// .NET's general date/time pattern ("G": short date, a blank, long time) of
// the primary culture of each language the dialogs speak.
struct CulturePattern {
  uint32_t lcid;
  std::string_view pattern;
  std::string_view am;
  std::string_view pm;
};

constexpr CulturePattern kEnglishUs = {1033, "M/d/yyyy h:mm:ss tt", "AM", "PM"};

constexpr CulturePattern kPatterns[] = {
    kEnglishUs,
    {2052, "yyyy/M/d H:mm:ss", "", ""},  // zh-CN
    {1028, "yyyy/M/d tt hh:mm:ss", "\xE4\xB8\x8A\xE5\x8D\x88",
     "\xE4\xB8\x8B\xE5\x8D\x88"},           // zh-TW 上午 下午
    {1029, "dd.MM.yyyy H:mm:ss", "", ""},   // cs-CZ
    {1031, "dd.MM.yyyy HH:mm:ss", "", ""},  // de-DE
    {1034, "dd/MM/yyyy H:mm:ss", "", ""},   // es-ES
    {1035, "d.M.yyyy H.mm.ss", "", ""},     // fi-FI
    {1036, "dd/MM/yyyy HH:mm:ss", "", ""},  // fr-FR
    {1040, "dd/MM/yyyy HH:mm:ss", "", ""},  // it-IT
    {1041, "yyyy/MM/dd H:mm:ss", "", ""},   // ja-JP
    {1042, "yyyy-MM-dd tt h:mm:ss", "\xEC\x98\xA4\xEC\xA0\x84",
     "\xEC\x98\xA4\xED\x9B\x84"},           // ko-KR 오전 오후
    {1043, "d-M-yyyy HH:mm:ss", "", ""},    // nl-NL
    {1044, "dd.MM.yyyy HH:mm:ss", "", ""},  // nb-NO
    {1046, "dd/MM/yyyy HH:mm:ss", "", ""},  // pt-BR
    {1049, "dd.MM.yyyy H:mm:ss", "", ""},   // ru-RU
    {1053, "yyyy-MM-dd HH:mm:ss", "", ""},  // sv-SE
    {1055, "d.MM.yyyy HH:mm:ss", "", ""},   // tr-TR
};

const CulturePattern& patternFor(uint32_t lcid) {
  for (const CulturePattern& culture : kPatterns) {
    if (culture.lcid == lcid) return culture;
  }
  return kEnglishUs;
}

void appendNumber(std::string& out, int value, size_t minDigits) {
  const bool negative = value < 0;
  std::string digits = std::to_string(negative ? -static_cast<long long>(value) : value);
  if (digits.size() < minDigits) digits.insert(0, minDigits - digits.size(), '0');
  if (negative) out += '-';
  out += digits;
}

}  // namespace

std::string formatGeneralDateTime(const LocalTime& time, uint32_t lcid) {
  const CulturePattern& culture = patternFor(lcid);
  const std::string_view pattern = culture.pattern;
  std::string out;
  size_t i = 0;
  while (i < pattern.size()) {
    const char letter = pattern[i];
    size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == letter) ++run;
    switch (letter) {
      case 'y':
        appendNumber(out, time.year, run);
        break;
      case 'M':
        appendNumber(out, time.month, run);
        break;
      case 'd':
        appendNumber(out, time.day, run);
        break;
      case 'H':
        appendNumber(out, time.hour, run);
        break;
      case 'h': {
        const int hour12 = time.hour % 12 == 0 ? 12 : time.hour % 12;
        appendNumber(out, hour12, run);
        break;
      }
      case 'm':
        appendNumber(out, time.minute, run);
        break;
      case 's':
        appendNumber(out, time.second, run);
        break;
      case 't':
        out += time.hour < 12 ? culture.am : culture.pm;
        break;
      default:
        out.append(run, letter);
        break;
    }
    i += run;
  }
  return out;
}

}  // namespace platform
