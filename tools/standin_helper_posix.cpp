#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <string>

#include "tools/standin_helper.h"

extern char** environ;

namespace standin {

bool startHelper() {
  std::string self(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (length <= 0) return false;
  self.resize(static_cast<size_t>(length));
  std::string argument = kHelperArgument;
  char* argv[] = {self.data(), argument.data(), nullptr};
  // Its own output goes nowhere, so it does not hold the installer's pipe.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0;
}

}  // namespace standin
