#pragma once

#include <filesystem>

namespace tarvik {

class CUpdaterDlg;

// The firmware image that the demos flash: the copy installed with the program (on Linux
// <prefix>/share/tarvik-firmware-utility/tarvik-demo.bin for <prefix>/bin/<program>; on
// Windows tarvik-demo.bin beside the .exe), else the one in the source tree the program was
// built from. When neither exists, the installed path, so that the message about the
// missing file names where it belongs.
std::filesystem::path DemoFirmware();

// A window's demo: the demo firmware chosen, and the status line saying that simulated
// devices stand behind COM1 and "USB Port".
void ChooseDemoFirmware(CUpdaterDlg& dlg);

}  // namespace tarvik
