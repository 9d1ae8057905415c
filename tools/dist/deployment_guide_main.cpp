// Prints DEPLOYMENT.md for make dist.
#include <cstdio>

#include "tools/dist/deployment_guide.h"

int main() {
  std::fputs(kit::deploymentGuide().c_str(), stdout);
  return 0;
}
