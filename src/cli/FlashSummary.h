#pragma once

#include <string>
#include <vector>

#include "cli/PortEvents.h"

namespace tarvik::cli {

// The table after a parallel run, one row a port in the order given:
//   PORT          RESULT       TIME
//   COM1          succeeded    12.3 s
//   /dev/pts/7    failed        3.1 s  tarvik-flash: N,A,K
//   2 of 3 devices flashed.
std::string SummaryTable(const std::vector<PortState>& ports);

// The same as one JSON object (the last line with --json):
//   {"event":"summary","ports":[{"port":"COM1","result":"succeeded","exit":0,"seconds":12.34},
//    ...],"flashed":2,"total":3,"exit":1}
// A failed port also has "message" (its first failure), a killed one "signal", and one that
// wrote to its error stream "stderr".
std::string SummaryJson(const std::vector<PortState>& ports, int exitStatus);

// 130 after Ctrl+C; otherwise 0 when every child exited with 0, and 1 when any did not.
int ParallelExitStatus(const std::vector<PortState>& ports, bool interrupted);

bool AllSucceeded(const std::vector<PortState>& ports);

}  // namespace tarvik::cli
