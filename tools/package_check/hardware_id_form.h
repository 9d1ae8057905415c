// How Windows spells a PCI device's hardware ID, for what a package's
// prefixes can match and for the devices of the rehearsal's machines.
#pragma once

#include <string>
#include <string_view>

namespace kit {

// "PCI\VEN_1002&DEV_73DF&SUBSYS_0A1B1D6A&REV_C1": the first hardware ID of a
// PCI device, upper-case hex, as WMI lists it.
inline constexpr std::string_view kPciIdTemplate = "PCI\\VEN_####&DEV_####&SUBSYS_########&REV_##";

// Why no hardware ID spelt as Windows spells it can start with `prefix`;
// empty when one can. `lowerCaseOnly` is set when upper-casing would mend it.
std::string pciPrefixProblem(std::string_view prefix, bool& lowerCaseOnly);

// The four hex digits after "VEN_" (any case), or "" when there are none.
std::string vendorOf(std::string_view prefix);

// A whole hardware ID in Windows' spelling for the device a prefix is meant
// for: the VEN, DEV, SUBSYS and REV fields found in it (in any case, after
// any mistake), the rest from the defaults and a fixed sample revision.
std::string pciIdFor(std::string_view prefix, std::string_view defaultVendor,
                     std::string_view defaultDevice = "73DF", std::string_view defaultSubsys = "3A2F6A3D");

}  // namespace kit
