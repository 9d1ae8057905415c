// The installation log's place and fixed words. The installer writes them,
// and the log explainer and the rehearsal find a run's parts by them: one
// spelling here, so that a change cannot leave a reader looking for the old one.
#pragma once

#include <string_view>

inline constexpr const char* kLogFolder = "C:\\Windows\\Log";
inline constexpr const char* kLogPath = "C:\\Windows\\Log\\OrvoVbInst.txt";

// A run's first two lines: one of a single blank, then the run's start. Each
// exit but the completion writes the blank line again before its state line.
inline constexpr std::string_view kLogBlankLine = " ";
inline constexpr std::string_view kLogRunStart = "=== VBIOS Installer ===";

// The line each of the nine steps begins with, step 1 first.
inline constexpr std::string_view kLogStepLines[] = {
    "STEP1: read configs",         "STEP2: check HWID and set target device",
    "STEP3: check BIOS version",   "STEP4: check VGA driver version",
    "STEP5: check VBIOS version",  "STEP6: get VBIOS version",
    "STEP7: check VBIOS uptodate", "STEP8: Check power mode",
    "STEP9: Install VBIOS",
};
constexpr std::string_view logStepLine(int step) { return kLogStepLines[step - 1]; }
// What every step line starts with, and the flash step's own start.
inline constexpr std::string_view kLogStepPrefix = "STEP";
inline constexpr std::string_view kLogFlashStep = "STEP9";

// The flash step's lines that say the flash tool was running: the start of
// its arguments, and the line written each time the bar moves on while it runs.
inline constexpr std::string_view kLogFlashArguments = "-fa ";
inline constexpr std::string_view kLogFlashRunning = "VbFlashProcess is running ";
// The AMD flash tool's word, in its output and so in the log, that the flash
// is complete; its exit code alone does not say so.
inline constexpr std::string_view kFlashCompletedText = "Restart System To Complete VBIOS Update";

inline constexpr std::string_view kLogUpToDate = "AMD VBIOS is uptodate";

// A run's last line: this, then the result code in decimal.
inline constexpr std::string_view kLogStatePrefix = "state ";
