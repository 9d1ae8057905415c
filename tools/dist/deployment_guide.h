// DEPLOYMENT.md, for IT departments that push the installer with Intune or
// Configuration Manager: which exit codes mean what to those tools, how to
// detect an installed package, what to collect for support. Made from the
// result table, so the sheet cannot drift from the codes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kit {

// How a deployment tool should take an exit code.
enum class DeployAs {
  Success,     // done, nothing more to do
  SoftReboot,  // done; the new VBIOS is active after the next restart
  Retry,       // nothing changed; a later run can succeed by itself
  Failure,     // someone has to look
};

struct DeployedCode {
  int32_t code;
  DeployAs as;
};

// Every code a run can end with (the closing steps' 3000 + e + w included),
// in the result table's order, with how to enter it.
std::vector<DeployedCode> deployedCodes();

// The whole sheet in Markdown.
std::string deploymentGuide();

}  // namespace kit
