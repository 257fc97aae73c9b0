#pragma once

#include <string>
#include <vector>

// What the command line needs of the console it runs in, on each system its own way.
namespace tarvik::cli {

// The program's arguments, argv[0] first, in UTF-8. Windows hands main its arguments in the
// ANSI code page, which has no room for most of the world's letters, so there they are read
// again from the wide command line.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Sets the console up for what the program prints: UTF-8 text (Windows' consoles default to
// an OEM code page).
void PrepareConsole();

// Whether standard output is a terminal that takes the progress bar's redraw (a carriage
// return and "erase to the end of the line"); otherwise the progress goes out as lines.
bool OutputRedraws();

}  // namespace tarvik::cli
