#include "image/ConvertElfToBin.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <new>
#include <random>

#include "image/ElfSegments.h"
#include "image/StdioFile.h"

namespace tarvik {
namespace {

ConversionResult OutputFailure(const std::filesystem::path& path, int error) {
    return {ConversionStatus::OutputFailed,
            ApplicationMessage("Cannot write " + path.string() + ": " + SystemReason(error) + "."),
            {}};
}

// Writes `bytes` to a new file beside `target` and renames it over `target` once complete.
ConversionResult WriteReplacing(const std::filesystem::path& target,
                                const std::vector<std::uint8_t>& bytes) {
    std::random_device random;
    std::filesystem::path temp;
    StdioFile out;
    for (int attempt = 0; attempt < 16 && !out; ++attempt) {
        temp = target;
        temp += ".tmp" + std::to_string(random() % 1000000);
        errno = 0;
        out.reset(OpenStdioFile(temp, "wbx"));
        if (!out && errno != EEXIST) {
            return OutputFailure(target, errno);
        }
    }
    if (!out) {
        return OutputFailure(target, EEXIST);
    }
    int error = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size()) {
        error = errno ? errno : EIO;
    }
    if (std::fclose(out.release()) != 0 && error == 0) {
        error = errno ? errno : EIO;
    }
    std::error_code ec;
    if (error == 0) {
        std::filesystem::rename(temp, target, ec);
        error = ec.value();
    }
    if (error != 0) {
        std::filesystem::remove(temp, ec);
        return OutputFailure(target, error);
    }
    return {ConversionStatus::Converted, std::nullopt, target};
}

}  // namespace

ConversionResult ConvertElfToBin(const FirmwareFile& file) {
    const auto input = FindFirmwareVariant(file, "out");
    if (!input) {
        return {ConversionStatus::Failed, WindowMessage("Please select a file first !"), {}};
    }
    errno = 0;
    StdioFile in(OpenStdioFile(*input, "rb"));
    if (!in) {
        return {
            ConversionStatus::Failed,
            ApplicationMessage("Cannot open " + input->string() + ": " + SystemReason(errno) + "."),
            {}};
    }
    const auto size = StreamSize(in.get());
    int readError = 0;
    const ReadAtFn readAt = [&](std::uint64_t offset,
                                std::span<std::uint8_t> dst) -> std::optional<std::size_t> {
        if (offset > static_cast<std::uint64_t>(LONG_MAX) ||
            std::fseek(in.get(), static_cast<long>(offset), SEEK_SET) != 0) {
            readError = errno ? errno : EIO;
            return std::nullopt;
        }
        const std::size_t got = std::fread(dst.data(), 1, dst.size(), in.get());
        if (got < dst.size() && std::ferror(in.get())) {
            readError = errno ? errno : EIO;
            return std::nullopt;
        }
        return got;
    };
    ElfLayoutResult layout;
    if (size) {
        try {
            layout = LayOutElfSegments(*size, readAt, input->string());
        } catch (const std::bad_alloc&) {
            // No work buffer: the conversion fails without a message of its own, and Run
            // says "File Convert fail!".
            return {ConversionStatus::Failed, std::nullopt, {}};
        }
    } else {
        readError = errno ? errno : EIO;
    }
    if (readError != 0) {
        return {ConversionStatus::Failed,
                ApplicationMessage("Cannot read " + input->string() + ": " +
                                   SystemReason(readError) + "."),
                {}};
    }
    if (layout.error) {
        return {ConversionStatus::Failed, layout.error, {}};
    }
    in.reset();
    return WriteReplacing(file.Folder() / (file.title + ".bin"), layout.image);
}

}  // namespace tarvik
