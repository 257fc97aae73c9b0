#include "cli/SimulatedSerialLoader.h"

#include "sim/InProcessSerialLoader.h"

namespace tarvik::cli {
namespace {

class InProcessLoader : public SimulatedSerialLoader {
public:
    explicit InProcessLoader(sim::SerialLoaderOptions options) : m_loader(std::move(options)) {}

    std::filesystem::path DevicePath() const override { return m_loader.DevicePath(); }
    SerialPortOpener& Opener(SerialPortOpener&) override { return m_loader; }

private:
    sim::InProcessSerialLoader m_loader;
};

}  // namespace

std::unique_ptr<SimulatedSerialLoader> MakeSimulatedSerialLoader(sim::SerialLoaderOptions options) {
    return std::make_unique<InProcessLoader>(std::move(options));
}

}  // namespace tarvik::cli
