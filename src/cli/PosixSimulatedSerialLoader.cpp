#include "cli/SimulatedSerialLoader.h"

namespace tarvik::cli {
namespace {

class PtyLoader : public SimulatedSerialLoader {
public:
    explicit PtyLoader(sim::SerialLoaderOptions options) : m_loader(std::move(options)) {}

    std::filesystem::path DevicePath() const override { return m_loader.DevicePath(); }
    SerialPortOpener& Opener(SerialPortOpener& system) override { return system; }

private:
    sim::SerialLoaderSim m_loader;
};

}  // namespace

std::unique_ptr<SimulatedSerialLoader> MakeSimulatedSerialLoader(sim::SerialLoaderOptions options) {
    return std::make_unique<PtyLoader>(std::move(options));
}

}  // namespace tarvik::cli
