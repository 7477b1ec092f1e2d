// Running an external program with an argument vector (no shell), for the
// service backends. Tests inject their own runner and never start real tools.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace sorvel::platform {

// Runs argv (argv[0] looked up on PATH); returns the exit status, or -1 when
// the program could not be started or did not exit normally. Standard output
// is captured into `output` when it is not null.
using CommandRunner = std::function<int(const std::vector<std::string>& argv, std::string* output)>;

int RunProgram(const std::vector<std::string>& argv, std::string* output);

}  // namespace sorvel::platform
