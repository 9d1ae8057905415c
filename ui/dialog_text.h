// The words of each dialog, kept apart from its behaviour: one table per
// dialog, one row per language.
#pragma once

#include <string_view>

namespace OvVBiosInstaller::text {

struct RestartFormText {
  std::string_view restartMessage;    // restart true
  std::string_view yes;               // button3
  std::string_view no;                // button1
  std::string_view completedMessage;  // restart false
  std::string_view ok;                // button1
};

struct SupportSiteFormText {
  std::string_view message;
  std::string_view ok;
};

struct PowerModeFormText {
  std::string_view message;
  std::string_view retry;   // button1
  std::string_view cancel;  // button2
};

// The message is firstPiece + version + secondPiece.
struct BiosCheckFormText {
  std::string_view firstPiece;
  std::string_view secondPiece;
  std::string_view ok;
};

struct InstallFailText {
  std::string_view failure;  // the result code in parentheses follows directly
  // The dock connection request: first piece + board model name + second piece.
  std::string_view connectionFirstPiece;
  std::string_view connectionSecondPiece;
  std::string_view ok;
};

struct InstallingFormText {
  std::string_view message;
  std::string_view shutdownBlockReason;
};

const RestartFormText& restartFormText();
const SupportSiteFormText& supportSiteFormText();
const PowerModeFormText& powerModeFormText();
const BiosCheckFormText& biosCheckFormText();
const InstallFailText& installFailText();
const InstallingFormText& installingFormText();

}  // namespace OvVBiosInstaller::text
