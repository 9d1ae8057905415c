// ovvb_drivers.exe: installs, configures, reads back and removes the test
// drivers in the Wine prefix (make test runs `install` once per run).
//   ovvb_drivers install [folder]      both drivers, from folder (default: drivers beside this program)
//   ovvb_drivers remove                both
//   ovvb_drivers acpi-start | acpi-stop | dock-install [folder] | dock-remove
//   ovvb_drivers set acpi|dock Name 123 | 0x1F | hex:5E0001...
//   ovvb_drivers get acpi|dock Name     a DWORD in decimal, binary data as hex
//   ovvb_drivers reset acpi|dock        every state value back to the driver's default
// Exit code 0 on success; otherwise the failing call is printed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/wine/drivers/driver_control.h"

namespace {

namespace drivers = winetest::drivers;

int report(const drivers::Outcome& outcome, const char* what) {
  if (outcome.empty()) return 0;
  std::fprintf(stderr, "ovvb_drivers %s: %s\n", what, outcome.c_str());
  return 1;
}

const wchar_t* service(const std::wstring& which) {
  if (which == L"acpi") return OVVB_ACPI_SERVICE;
  if (which == L"dock") return OVVB_DOCK_SERVICE;
  return nullptr;
}

bool parseHex(const std::wstring& text, std::vector<uint8_t>& bytes) {
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    wchar_t* end = nullptr;
    const std::wstring pair = text.substr(i, 2);
    const unsigned long value = std::wcstoul(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) return false;
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return true;
}

int usage() {
  std::fprintf(stderr,
               "usage: ovvb_drivers install|remove|acpi-start|acpi-stop|dock-install|dock-remove [folder]\n"
               "       ovvb_drivers set acpi|dock Name value | get acpi|dock Name | reset acpi|dock\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return usage();
  const std::wstring command = argv[1];
  const std::wstring folder = argc > 2 ? argv[2] : drivers::driverFolder();
  if (command == L"install") {
    if (int failed = report(drivers::installAcpi(folder), "install (platform driver)")) return failed;
    return report(drivers::installDock(folder), "install (dock controller)");
  }
  if (command == L"remove") {
    const int acpi = report(drivers::removeAcpi(), "remove (platform driver)");
    return report(drivers::removeDock(), "remove (dock controller)") | acpi;
  }
  if (command == L"acpi-start") return report(drivers::startAcpi(), "acpi-start");
  if (command == L"acpi-stop") return report(drivers::stopAcpi(), "acpi-stop");
  if (command == L"dock-install") return report(drivers::installDock(folder), "dock-install");
  if (command == L"dock-remove") return report(drivers::removeDock(), "dock-remove");

  if (argc < 3 || !service(argv[2])) return usage();
  drivers::State state(service(argv[2]));
  if (command == L"reset") {
    state.clear();
    return 0;
  }
  if (argc < 4) return usage();
  const wchar_t* name = argv[3];
  if (command == L"get") {
    if (!state.has(name)) return 1;
    if (state.isDword(name)) {
      std::printf("%lu\n", static_cast<unsigned long>(state.dword(name, 0)));
    } else {
      for (uint8_t byte : state.binary(name)) std::printf("%02X", byte);
      std::printf("\n");
    }
    return 0;
  }
  if (command == L"set" && argc == 5) {
    const std::wstring value = argv[4];
    if (value.rfind(L"hex:", 0) == 0) {
      std::vector<uint8_t> bytes;
      if (!parseHex(value.substr(4), bytes)) return usage();
      return state.setBinary(name, bytes) ? 0 : 1;
    }
    wchar_t* end = nullptr;
    const unsigned long number = std::wcstoul(value.c_str(), &end, 0);
    if (value.empty() || *end != 0) return usage();
    return state.setDword(name, static_cast<uint32_t>(number)) ? 0 : 1;
  }
  return usage();
}
