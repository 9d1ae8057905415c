// OvVBiosLogExplain <OrvoVbInst.txt>
#include <fstream>
#include <string>
#include <vector>

#include "platform/system.h"
#include "tools/entry/native_path.h"
#include "tools/entry/tool_main.h"
#include "tools/log_explain/log_reader.h"

int toolMain(const std::vector<std::string>& args, const std::string&) {
  if (args.size() != 1 || args[0].starts_with("-")) {
    platform::writeStandardOutput(
        "usage: OvVBiosLogExplain <OrvoVbInst.txt>\n"
        "  Explains each run in an installation log: when it started, the steps it reached,\n"
        "  its final code, what that means and what to do about it.\n");
    return 3;
  }
  std::ifstream in(kit::nativePath(args[0]), std::ios::binary);
  if (!in) {
    platform::writeStandardOutput("cannot open " + args[0] + "\n");
    return 2;
  }
  kit::LogReader reader;
  std::vector<char> buffer(1 << 16);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    reader.feed(std::string_view(buffer.data(), static_cast<size_t>(in.gcount())));
  }
  platform::writeStandardOutput(kit::explainLog(reader.finish()));
  return 0;
}
