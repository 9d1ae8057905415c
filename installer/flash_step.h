// Step 9: writing the VBIOS with the flash tool (AMD) or the package's own
// flash program, while the progress window is paced.
#pragma once

#include <cstdint>
#include <string>

#include "common/log.h"
#include "package/vbios_configs.h"
#include "platform/pinned_folder.h"
#include "ui/dialogs.h"

inline constexpr const char* kWorkingFolder = "C:\\ProgramData\\Orvo\\VBIOS";
// The same folder as the system folder it is made in and the names below it.
inline constexpr const char* kWorkingFolderParent = "C:\\ProgramData";
inline constexpr const char* kWorkingFolderBelow = "Orvo\\VBIOS";
inline constexpr uint32_t kFlashStartRetryMs = 5000;
inline constexpr int kFlashStartAttempts = 5;
inline constexpr uint32_t kFlashExitTimeoutMs = 90000;

// Logs, one warning line each, what opening `folder` moved out of the way.
void logMovedAside(const platform::PinnedFolder& folder, LogWriter& w);

// `packageFolder` is the run's copy of the package.
// Returns 0, 902, 903, 904 or 905. `progressWindow` is started once the
// flash program runs and is left open on 902, 903 and 905.
int32_t flashVBios(VBiosConfigs& cfg, const std::string& packageFolder, LogWriter& w,
                   OvVBiosInstaller::ProgressWindowThread& progressWindow);

// Deletes the working copy of the ROM, never anything outside the working
// folder. A copy that is not there is not an error.
void removeWorkingRomCopy(const VBiosConfigs& cfg, LogWriter& w);
