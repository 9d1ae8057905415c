#include "package/vbios_configs.h"

#include "platform/paths.h"

VBiosConfigs::VBiosConfigs(LogWriter& writer)
    : myPath(platform::joinPath(platform::programFolder(), "packages")), w(&writer) {}

VBiosConfigs::VBiosConfigs()
    : myPath(platform::joinPath(platform::programFolder(), "packages")),
      ownWriter_(std::make_unique<LogWriter>()) {
  // A log that cannot be opened still echoes to standard output; the checks
  // must run the same either way.
  platform::ignoreFailure(ownWriter_->open(kLogPath));
  w = ownWriter_.get();
}

void VBiosConfigs::OvLog(std::string_view message, LogWriter& writer) { ::OvLog(message, writer); }
