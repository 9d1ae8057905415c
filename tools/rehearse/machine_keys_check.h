// An author's machine.ini read against the keys the simulated machine knows:
// a key it does not read changes nothing, which the author should hear.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kit {

// One warning per unknown section or key, with a "did you mean" where a
// known name is close.
std::vector<std::string> unknownMachineKeys(std::string_view machineIni);

}  // namespace kit
