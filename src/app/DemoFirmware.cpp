#include "app/DemoFirmware.h"

#include <system_error>

#include "app/ProgramPath.h"
#include "app/UpdaterDlg.h"
#include "image/FirmwareFiles.h"

namespace tarvik {

std::filesystem::path DemoFirmware() {
    std::error_code ec;
    // Found from the running program's own path: an installed tree may be moved or unpacked
    // anywhere.
    const std::filesystem::path program = ProgramPath();
    const std::filesystem::path installed =
        (program.parent_path() / TARVIK_DEMO_FIRMWARE_FROM_PROGRAM).lexically_normal();
    if (!program.empty() && std::filesystem::is_regular_file(installed, ec)) {
        return installed;
    }
    const std::filesystem::path source = TARVIK_DEMO_FIRMWARE_SOURCE;
    if (std::filesystem::is_regular_file(source, ec)) {
        return source;
    }
    return installed;
}

void ChooseDemoFirmware(CUpdaterDlg& dlg) {
    const FirmwareFile file = FirmwareFileFromPath(DemoFirmware());
    {
        std::lock_guard lock(dlg.m_dataLock);
        dlg.m_strFileFolder = file.folder;
        dlg.m_strFileTitle = file.title;
        dlg.m_strFileExt = file.ext;
    }
    dlg.SetStatus("Demo: simulated devices on COM1 and USB Port");
}

}  // namespace tarvik
