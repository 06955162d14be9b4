#pragma once
// Console programs: UTF-8 arguments and output on every platform.
#include <string>
#include <vector>

namespace kv::platform {

// The program's arguments in UTF-8 (on Windows from the wide command line,
// so names in any script survive), without the program path.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes the console show UTF-8 output as text.
void PrepareConsole();

}  // namespace kv::platform
