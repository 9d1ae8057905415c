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
  std::string galleryDir;   // dialog pictures, <Form>[-variant]-1033.png; empty: none
  int jobs = 2;
  double limitSeconds = 60;  // a run still going then is killed
};

struct RehearsalRow {
  std::string machine;  // what varies
  int aimedAt = -1;     // the code the matrix built this machine for, -1 for none
  bool ran = false, killed = false;
  int code = -1;                     // the run's result code (trace), -1 when it has none
  std::string agreement;             // empty when exit status, trace and log's state line agree
  std::vector<std::string> dialogs;  // forms shown, in order, the progress window left out
  std::string dialogText;            // the last one's label1
  std::string flashedRom;            // empty: the flash did not run
  double seconds = 0;
  std::string log;  // the run's installation log
};

struct Rehearsal {
  std::string problem;  // why nothing could run; empty otherwise
  std::vector<std::string> notes;
  std::vector<RehearsalRow> rows;
};

Rehearsal rehearse(const RehearsalOptions& options);

std::string formatTable(const Rehearsal& rehearsal);
std::string formatHtml(const Rehearsal& rehearsal, const std::string& packageShown,
                       const std::string& galleryDir);

}  // namespace kit
