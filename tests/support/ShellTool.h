#pragma once

#include <string>

namespace closewright::testing {

struct ShellRun {
  int exitCode = -1;
  std::string output;  // stdout and stderr together
};

/// Runs the command-line tool through the shell with `arguments` as one would type them.
ShellRun RunToolLine(const std::string& arguments);

}  // namespace closewright::testing
