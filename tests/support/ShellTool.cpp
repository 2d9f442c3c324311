#include "support/ShellTool.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace closewright::testing {

ShellRun RunToolLine(const std::string& arguments) {
  const std::string command = std::string(CLOSEWRIGHT_TOOL) + " " + arguments + " 2>&1";
  ShellRun result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> buffer{};
  while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr)
    result.output += buffer.data();
  const int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace closewright::testing
