// Any bytes as a raw image file: load, walk the whole send order, release.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "image/FirmwareImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path folder = [] {
        auto dir =
            std::filesystem::temp_directory_path() / ("tarvik-fuzz-" + std::to_string(std::rand()));
        std::filesystem::create_directories(dir);
        return dir;
    }();
    {
        std::ofstream out(folder / "fw.bin", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    tarvik::FirmwareImage image;
    const auto error = image.Load({folder, "fw", "bin"});
    if (error.has_value() != (size == 0)) {
        std::abort();
    }
    unsigned sum = 0;
    for (const std::uint32_t index :
         image.IsLoaded() ? image.SendOrder() : std::vector<std::uint32_t>{}) {
        const auto block = image.GetBlock(index);
        sum += block.m_byChecksum + block.Data()[tarvik::kBlockSize - 1];
        if (index != 0 && image.ProgressAfter(index) >= 100) {
            std::abort();
        }
    }
    image.Release();
    return static_cast<int>(sum & 0);
}
