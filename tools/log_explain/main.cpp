// OvVBiosLogExplain <OrvoVbInst.txt>
#include <fstream>
#include <string>
#include <vector>

#include "platform/system.h"
#include "tools/entry/native_path.h"
#include "tools/entry/tool_main.h"
#include "tools/log_explain/log_reader.h"

namespace {

constexpr size_t kMaxRegistryExport = 1 << 20;

}  // namespace

int toolMain(const std::vector<std::string>& args, const std::string&) {
  std::string log, registry;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--registry" && i + 1 < args.size() && registry.empty()) {
      registry = args[++i];
    } else if (args[i].starts_with("-") || !log.empty()) {
      log.clear();
      break;
    } else {
      log = args[i];
    }
  }
  if (log.empty()) {
    platform::writeStandardOutput(
        "usage: OvVBiosLogExplain <OrvoVbInst.txt> [--registry <file.reg>]\n"
        "  Explains each run in an installation log: when it started, what it required and found,\n"
        "  the steps it reached, its final code, what that means and what to do about it.\n"
        "  --registry  a reg export of HKLM\\SOFTWARE\\Orvo\\VBIOS: says whether its State agrees\n"
        "              with the last run's state line\n");
    return 3;
  }
  std::ifstream in(kit::nativePath(log), std::ios::binary);
  if (!in) {
    platform::writeStandardOutput("cannot open " + log + "\n");
    return 2;
  }
  std::string record;
  if (!registry.empty()) {
    std::ifstream reg(kit::nativePath(registry), std::ios::binary);
    if (!reg) {
      platform::writeStandardOutput("cannot open " + registry + "\n");
      return 2;
    }
    // A reg export of one key is small; more than this is not one.
    record.resize(kMaxRegistryExport);
    reg.read(record.data(), static_cast<std::streamsize>(record.size()));
    record.resize(static_cast<size_t>(reg.gcount()));
  }
  kit::LogReader reader;
  std::vector<char> buffer(1 << 16);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    reader.feed(std::string_view(buffer.data(), static_cast<size_t>(in.gcount())));
  }
  const kit::LogSummary summary = reader.finish();
  std::string out = kit::explainLog(summary);
  if (!registry.empty()) {
    std::string problem;
    const std::optional<int32_t> state = kit::readStateRecord(record, problem);
    out += "\n" + kit::compareStateRecord(summary, state, problem);
  }
  platform::writeStandardOutput(out);
  return 0;
}
