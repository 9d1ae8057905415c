#include "common/tool_outcome.h"

ToolVerdict judgeToolRun(const platform::ProgramResult& run, const ToolCall& call) {
  ToolVerdict verdict;
  const auto stop = [&](std::string_view line, std::string detail, int32_t code) {
    verdict.entries.emplace_back(line);
    verdict.entries.push_back(std::move(detail));
    verdict.code = code;
  };
  switch (run.outcome) {
    case platform::RunOutcome::CannotStart:
      stop(call.notFoundLine, platform::describeFailure(run.error, call.function), call.failed);
      break;
    case platform::RunOutcome::NoProcess:
      stop(call.exceptionLine,
           platform::describeProblem(call.function, call.noProcessProblem.empty()
                                                        ? "no process was started for " + call.program
                                                        : call.noProcessProblem),
           call.failed);
      break;
    case platform::RunOutcome::Failed:
      stop(call.exceptionLine, platform::describeFailure(run.error, call.function), call.failed);
      break;
    case platform::RunOutcome::TimedOut:
      verdict.entries.emplace_back(call.timeoutLine);
      verdict.code = call.timedOut;
      verdict.ended = !run.error.failed();
      // A kill that failed leaves the tool running: a failure of its own.
      if (run.error.failed())
        stop(call.exceptionLine, platform::describeFailure(run.error, call.function), call.failed);
      break;
    case platform::RunOutcome::Exited:
    case platform::RunOutcome::OutputBroken:
      verdict.ended = true;
      if (run.exitCode != 0) {
        verdict.entries.push_back(std::string(call.exitCodePrefix) + std::to_string(run.exitCode));
        verdict.code = call.exitCode;
      }
      break;
  }
  return verdict;
}
