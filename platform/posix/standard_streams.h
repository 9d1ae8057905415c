// The posix program's standard descriptors, made safe before anything else
// runs: the first thing the entry point does.
#pragma once

namespace platform::posix {

// Opens /dev/null on any of descriptors 0-2 that was closed when the program
// started, so that no file opened later (the log) can become standard
// output and receive every echo; and ignores SIGPIPE, so that a reader of
// standard output that goes away makes writes fail (the echo is dropped)
// instead of ending the run mid-flash. Call before any thread starts.
void protectStandardStreams();

}  // namespace platform::posix
