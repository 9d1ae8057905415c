// OvVBiosRehearse <packages folder> [--machines DIR] [--tools DIR] [--jobs N] [--report out.html]
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "tools/entry/tool_main.h"
#include "tools/rehearse/rehearsal.h"

namespace {

constexpr const char* kUsage =
    "usage: OvVBiosRehearse <packages folder> [--machines DIR] [--tools DIR] [--jobs N]\n"
    "                       [--report out.html] [--time-limit SECONDS] [--signer cert.pem]\n"
    "  Runs the installer (linux build, beside this program) with the package on a matrix of\n"
    "  simulated machines made from the package, or on the machine folders in DIR, and prints\n"
    "  one row per machine. Nothing outside its own temporary folder and the report is touched.\n"
    "  The package's vendor tools are played by simulated stand-ins; a tool the package lacks\n"
    "  is missing, as on a notebook, unless --tools DIR names a folder of stand-ins for it\n"
    "  (the linux build's bin folder), which the notes then say.\n"
    "  --signer  rehearse the installer as signed with this certificate (PEM or DER): it runs only a\n"
    "            package signed with the same one; without it, the installer is unsigned.\n"
    "Exit code: 0 every machine ended as the kind of machine it was made for expects (a machine\n"
    "of your own: flashed or up to date) and at least one was flashed, 1 otherwise (listed at\n"
    "the end), 2 nothing could be rehearsed, 3 usage.\n";

}  // namespace

int toolMain(const std::vector<std::string>& args, const std::string& programFolder) {
  kit::RehearsalOptions options;
  options.binDir = programFolder;
  options.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::string report;
  for (size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--machines" && hasValue) {
      options.machinesDir = args[++i];
    } else if (args[i] == "--tools" && hasValue) {
      options.toolsDir = args[++i];
    } else if (args[i] == "--jobs" && hasValue) {
      options.jobs = std::atoi(args[++i].c_str());
    } else if (args[i] == "--report" && hasValue) {
      report = args[++i];
    } else if (args[i] == "--signer" && hasValue) {
      options.signer = args[++i];
    } else if (args[i] == "--time-limit" && hasValue) {
      options.limitSeconds = std::atof(args[++i].c_str());
    } else if (args[i].starts_with("-") || !options.packages.empty()) {
      platform::writeStandardOutput(kUsage);
      return 3;
    } else {
      options.packages = args[i];
    }
  }
  if (options.packages.empty() || options.jobs < 1 || options.limitSeconds <= 0) {
    platform::writeStandardOutput(kUsage);
    return 3;
  }
  const kit::Rehearsal rehearsal = kit::rehearse(options);
  platform::writeStandardOutput(kit::formatTable(rehearsal));
  if (!report.empty()) {
    std::ofstream out(report, std::ios::binary);
    out << kit::formatHtml(rehearsal, options.packages);
    if (!out) {
      platform::writeStandardOutput("cannot write " + report + "\n");
      return 2;
    }
  }
  return rehearsal.exitCode();
}
