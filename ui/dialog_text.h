// The words of each dialog, kept apart from its behaviour: one table per
// dialog, one row per language in DialogLanguage's order. Texts are exactly
// as shown, trailing blanks included; "\n" is the one line break.
#pragma once

#include <string_view>

#include "ui/dialog_language.h"
#include "ui/toolkit/form.h"

namespace OvVBiosInstaller::text {

struct RestartFormText {
  DialogLanguage language;
  std::string_view restartMessage;    // restart true
  std::string_view yes;               // button3
  std::string_view no;                // button1
  std::string_view completedMessage;  // restart false
  std::string_view ok;                // button1
};

struct SupportSiteFormText {
  DialogLanguage language;
  std::string_view message;
  std::string_view ok;
};

struct PowerModeFormText {
  DialogLanguage language;
  std::string_view message;
  std::string_view retry;   // button1
  std::string_view cancel;  // button2
  // Retry's caption is too long for its plate at the usual size in a few
  // languages.
  float retryFontSizePt = toolkit::kDefaultFontSizePt;
};

// The message is firstPiece + version + secondPiece; firstPiece ends with
// whatever the language puts before a version number.
struct BiosCheckFormText {
  DialogLanguage language;
  std::string_view firstPiece;
  std::string_view secondPiece;
  std::string_view ok;
};

struct InstallFailText {
  DialogLanguage language;
  std::string_view failure;  // the result code in parentheses follows directly
  // The dock connection request: first piece + board model name + second piece.
  std::string_view connectionFirstPiece;
  std::string_view connectionSecondPiece;
  std::string_view ok;
};

struct InstallingFormText {
  DialogLanguage language;
  std::string_view message;
  std::string_view shutdownBlockReason;
};

const RestartFormText& restartFormText(DialogLanguage language);
const SupportSiteFormText& supportSiteFormText(DialogLanguage language);
const PowerModeFormText& powerModeFormText(DialogLanguage language);
const BiosCheckFormText& biosCheckFormText(DialogLanguage language);
const InstallFailText& installFailText(DialogLanguage language);
const InstallingFormText& installingFormText(DialogLanguage language);

}  // namespace OvVBiosInstaller::text
