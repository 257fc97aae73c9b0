// Figures for the firmware image: conversion time of a 256 KiB ELF, and the time and peak
// memory of loading a 16 MiB image. Prints figures; never fails on them.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "image/ConvertElfToBin.h"
#include "image/FirmwareImage.h"

namespace {

using Clock = std::chrono::steady_clock;

// Peak resident memory of this process in KiB, from the kernel's own count.
long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// Four segments that fill 256 KiB of address space.
std::vector<std::uint8_t> MakeElf() {
    const std::uint32_t segment = 0x10000;
    std::vector<std::uint8_t> elf(0x1000 + 4 * segment);
    std::mt19937 random(7);
    for (auto& b : elf) {
        b = static_cast<std::uint8_t>(random());
    }
    std::fill(elf.begin(), elf.begin() + 0x1000, 0);
    elf[1] = 'E', elf[2] = 'L', elf[3] = 'F';
    Put32(elf, 28, 0x34);
    elf[44] = 4;
    for (std::uint32_t k = 0; k < 4; ++k) {
        Put32(elf, 0x34 + 32 * k + 4, 0x1000 + k * segment);
        Put32(elf, 0x34 + 32 * k + 8, 0x8000000 + k * segment);
        Put32(elf, 0x34 + 32 * k + 16, segment);
    }
    return elf;
}

}  // namespace

int main() {
    const auto folder = std::filesystem::temp_directory_path() / "tarvik-image-bench";
    std::filesystem::create_directories(folder);

    // Write the 16 MiB image in small pieces, so that its writing does not set the peak.
    {
        std::ofstream out(folder / "big.bin", std::ios::binary | std::ios::trunc);
        std::vector<char> chunk(64 * 1024, 0x5A);
        for (int i = 0; i < 256; ++i) {
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
    }
    ResetPeak();
    const long before = PeakKiB();
    tarvik::FirmwareImage image;
    const auto loadStart = Clock::now();
    const auto error = image.Load({folder, "big", "bin"});
    const double loadMs =
        std::chrono::duration<double, std::milli>(Clock::now() - loadStart).count();
    const long peak = PeakKiB();
    if (error) {
        std::printf("load failed: %s\n", error->text.c_str());
        return 1;
    }
    const double imageKiB = image.m_nLength / 1024.0;
    image.Release();
    std::printf(
        "load 16 MiB image: %.1f ms, peak memory +%ld KiB = %.2f x image size "
        "(target < 2.00)\n",
        loadMs, peak - before, (peak - before) / imageKiB);

    {
        const auto elf = MakeElf();
        std::ofstream(folder / "app.out", std::ios::binary)
            .write(reinterpret_cast<const char*>(elf.data()),
                   static_cast<std::streamsize>(elf.size()));
    }
    std::vector<double> times;
    for (int i = 0; i < 200; ++i) {
        const auto start = Clock::now();
        const auto result = tarvik::ConvertElfToBin({folder, "app", "out"});
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (result.status != tarvik::ConversionStatus::Converted) {
            std::printf("conversion failed\n");
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "convert 256 KiB ELF: median %.3f ms, 95th percentile %.3f ms over %zu runs "
        "(target < 5 ms); output %ju bytes\n",
        times[times.size() / 2], times[times.size() * 95 / 100], times.size(),
        static_cast<std::uintmax_t>(std::filesystem::file_size(folder / "app.bin")));
    std::filesystem::remove_all(folder);
    return 0;
}
