#include <chrono>
#include <fstream>
#include <thread>

#include "simulated/machine.h"
#include "tools/standin_helper.h"

namespace standin {

void runHelper(const std::string& toolName) {
  const std::string file = simulated::machineRoot() + "/helper-" + toolName + ".txt";
  for (long long beat = 0;; ++beat) {
    std::ofstream(file, std::ios::app) << "alive " << beat << "\n";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace standin
