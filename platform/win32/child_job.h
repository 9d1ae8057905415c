// How a child gets into its job object. Where Windows offers it (Windows 10
// and later) the job is named when the process is made, so the child is in
// it from its first instruction; elsewhere the process is made suspended,
// put into its job, then let run.
#pragma once

namespace platform::win32 {

enum class JobEntry { AtCreation, AfterSuspendedStart };

// The way the last child of this process entered its job.
JobEntry lastJobEntry();

// For the tests of the older way: every later start is made suspended, as on
// a Windows without the job list.
void forceSuspendedJobEntry(bool on);

}  // namespace platform::win32
