// The entry of each kit tool, called by the platform's entry file with the
// arguments in UTF-8 and the folder of the running program (native path).
#pragma once

#include <string>
#include <vector>

int toolMain(const std::vector<std::string>& args, const std::string& programFolder);
