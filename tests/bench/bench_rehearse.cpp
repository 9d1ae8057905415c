// The rehearsal's rate: the full default matrix of a two-entry AMD package
// on two jobs at [time] scale = 0. Prints figures; asserts nothing about time.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tools/rehearse/rehearsal.h"

namespace fs = std::filesystem;

int main() {
  char pattern[] = "/tmp/ovvb-bench-rehearse-XXXXXX";
  const fs::path dir = mkdtemp(pattern);
  const fs::path packages = dir / "packages";
  fs::copy(fs::path(OVVB_SOURCE_DIR) / "examples/packages/amd-dock", packages, fs::copy_options::recursive);
  fs::copy_file(packages / "kestrel_rx6700.rom", packages / "kestrel_rx6800.rom");
  std::ofstream(packages / "configs.txt", std::ios::app)
      << "VBiosHWID_1=PCI\\VEN_1002&DEV_73BF\nVBiosVersion_1=020.001.000.040.016400\nVBiosROM_1=kestrel_"
         "rx6800.rom\n";

  kit::RehearsalOptions options;
  options.packages = packages.string();
  options.binDir = OVVB_BIN_DIR;
  options.toolsDir = OVVB_BIN_DIR;  // the example package holds no vendor tools
  options.jobs = 2;
  double best = 1e9;
  size_t machines = 0;
  for (int i = 0; i < 3; ++i) {
    const auto begin = std::chrono::steady_clock::now();
    const kit::Rehearsal rehearsal = kit::rehearse(options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (!rehearsal.problem.empty()) {
      std::fprintf(stderr, "rehearsal failed: %s\n", rehearsal.problem.c_str());
      return 1;
    }
    machines = rehearsal.rows.size();
    best = std::min(best, seconds);
  }
  fs::remove_all(dir);
  std::printf("rehearsal of a two-entry package: %zu machines in %.2f s on 2 jobs, %.1f machines/s\n",
              machines, best, static_cast<double>(machines) / best);
  return 0;
}
