// Runs the installer once per machine root, several at a time, each in its
// own process group with its own OVVB_MACHINE, and kills a run (with every
// tool it started) that outlives its time.
#pragma once

#include <string>
#include <vector>

namespace kit {

struct PoolJob {
  std::string program;      // the installer
  std::string machineRoot;  // OVVB_MACHINE for this run
  std::string outputPath;   // its standard output and error
};

struct PoolResult {
  bool started = false;
  bool killed = false;  // it outlived the time limit
  int exitStatus = -1;  // the low 8 bits the posix status keeps
  double seconds = 0;
};

std::vector<PoolResult> runPool(const std::vector<PoolJob>& jobs, int parallel, double limitSeconds);

}  // namespace kit
