// OvVBiosRehearse: the installer run on a matrix of simulated machines, one
// row per machine with what the run did, read back from its trace and log.
#pragma once

#include <string>
#include <vector>

namespace kit {

struct RehearsalOptions {
  std::string packages;     // the author's packages folder (native path)
  std::string machinesDir;  // machine folders of the author's own; empty: the default matrix
  std::string binDir;       // the linux build's bin folder: the installer and the stand-in tools
  std::string toolsDir;     // stand-ins for the tools the package lacks; empty: they stay missing
  std::string signer;  // a certificate file: rehearse an installer signed with it; empty: an unsigned one
  int jobs = 2;
  double limitSeconds = 60;  // a run still going then is killed
};

struct RehearsalRow {
  std::string machine;    // what varies
  int aimedAt = -1;       // the code the matrix built this machine for, -1 for none
  std::string gpu;        // the machine's GPU as vendor:device ("1002:73DF"), or "no GPU"
  bool targeted = false;  // an entry of the package names that vendor and device
  bool ran = false, killed = false;
  int code = -1;                     // the run's result code (trace), -1 when it has none
  std::string agreement;             // empty when exit status, trace and log's state line agree
  std::vector<std::string> dialogs;  // forms shown, in order, the progress window left out
  std::string dialogTitle;           // the last one's title bar, label1 and action buttons, as shown
  std::string dialogText;
  std::vector<std::string> dialogButtons;
  std::string why;         // the log's last ERROR or WARNING line, or a reason the rehearsal knows
  std::string flashedRom;  // empty: the flash did not run
  double seconds = 0;
  std::string log;  // the run's installation log
};

// Whether the run ended as the kind of machine it was made for expects: it
// ran to its end, its exit status, trace and log agree, and its code is the
// one aimed at (any code for a machine the matrix cannot predict).
bool endedAsMadeFor(const RehearsalRow& row);
// Whether the run flashed its GPU (0, or a closing steps' code after a flash).
bool wasFlashed(const RehearsalRow& row);

struct Rehearsal {
  std::string problem;  // why nothing could be rehearsed; empty otherwise
  std::vector<std::string> notes;
  std::vector<RehearsalRow> rows;
  // 0 every machine ended as made for and at least one was flashed, 1 some
  // did not or none was flashed, 2 nothing rehearsed.
  int exitCode() const;
};

Rehearsal rehearse(const RehearsalOptions& options);

std::string formatTable(const Rehearsal& rehearsal);
std::string formatHtml(const Rehearsal& rehearsal, const std::string& packageShown);

}  // namespace kit
