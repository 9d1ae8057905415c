#include "tools/rehearse/run_pool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

namespace kit {

namespace {

using Clock = std::chrono::steady_clock;

pid_t startJob(const PoolJob& job) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // The child: its own session, which the tools it starts stay in even
  // though each gets a process group of its own (so that the installer can
  // kill one at its time-out), and so a kill can reach them all.
  setsid();
  setenv("OVVB_MACHINE", job.machineRoot.c_str(), 1);
  const int in = open("/dev/null", O_RDONLY);
  const int out = open(job.outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) _exit(127);
  dup2(in, 0);
  dup2(out, 1);
  dup2(out, 2);
  execl(job.program.c_str(), job.program.c_str(), static_cast<char*>(nullptr));
  _exit(127);
}

// The session of process `pid` as /proc tells it; -1 when it has gone.
pid_t sessionOf(const std::string& pid) {
  std::ifstream file("/proc/" + pid + "/stat");
  std::string stat;
  if (!std::getline(file, stat)) return -1;
  // The command name in parentheses may hold anything; the fields after it
  // are state, parent, process group and session.
  const size_t end = stat.rfind(')');
  if (end == std::string::npos) return -1;
  std::istringstream fields(stat.substr(end + 1));
  std::string state;
  long parent = 0, group = 0, session = -1;
  if (!(fields >> state >> parent >> group >> session)) return -1;
  return static_cast<pid_t>(session);
}

// Kills the run and every tool it started, however they are grouped. Two
// rounds, for a tool that was starting another while the first went by.
void killSession(pid_t session) {
  killpg(session, SIGKILL);
  for (int round = 0; round < 2; ++round) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      if (sessionOf(name) == session) kill(static_cast<pid_t>(std::stol(name)), SIGKILL);
    }
  }
}

}  // namespace

std::vector<PoolResult> runPool(const std::vector<PoolJob>& jobs, int parallel, double limitSeconds) {
  struct Running {
    size_t index;
    pid_t pid;
    Clock::time_point begin;
  };
  std::vector<PoolResult> results(jobs.size());
  std::vector<Running> running;
  size_t next = 0;
  if (parallel < 1) parallel = 1;
  while (next < jobs.size() || !running.empty()) {
    while (next < jobs.size() && static_cast<int>(running.size()) < parallel) {
      const pid_t pid = startJob(jobs[next]);
      if (pid < 0) {
        ++next;
        continue;
      }
      results[next].started = true;
      running.push_back({next++, pid, Clock::now()});
    }
    bool anyEnded = false;
    for (size_t i = 0; i < running.size();) {
      Running& run = running[i];
      PoolResult& result = results[run.index];
      // Looked at without reaping, so the session still exists (and its id
      // cannot be reused) when the stragglers are killed below.
      siginfo_t info{};
      const bool ended = waitid(P_PID, static_cast<id_t>(run.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                         info.si_pid == run.pid;
      const double elapsed = std::chrono::duration<double>(Clock::now() - run.begin).count();
      if (!ended && elapsed <= limitSeconds) {
        ++i;
        continue;
      }
      result.killed = !ended;
      // Whatever the installer left running goes with it.
      killSession(run.pid);
      int status = 0;
      waitpid(run.pid, &status, 0);
      if (!result.killed && WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
      result.seconds = elapsed;
      running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
      anyEnded = true;
    }
    if (!anyEnded && !running.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return results;
}

}  // namespace kit
