#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "serial/SerialPort.h"

namespace tarvik::win {

// Whether the port runs at `baud`: the rates of the baud indexes.
bool SupportedRate(std::uint32_t baud);

// Sets a comm handle up for the loader at `baud`: the line, the driver's time-outs, and an
// input queue emptied of what came before. Why it failed, or nothing.
std::optional<SerialOpenResult> SetUpComm(HANDLE comm, std::uint32_t baud);

}  // namespace tarvik::win
