#pragma once
// The environments the program runs: the fifteen rooms, the cavern's
// convolution response when its file loaded, and the procedural cavern's own
// stages beside its room.

#include "engine/environment.h"

#include <memory>
#include <string>

namespace dsp {
class ConvolutionReverb;
}
namespace platform {
class Files;
}

namespace engine {

class ReverbEnvironments : public EnvironmentFactory {
public:
    // The response file is looked for in folder through files; without files it is not looked for.
    explicit ReverbEnvironments(platform::Files* files = nullptr, std::wstring folder = {});
    ~ReverbEnvironments() override;

    bool loadImpulseResponse() override;
    std::unique_ptr<ReverbInstance> makeRoom(double sampleRate, int preset) override;
    // Hands over the loaded response (once); none when it did not load.
    std::unique_ptr<ReverbInstance> makeConvolution(double sampleRate) override;
    std::unique_ptr<CavernStages> makeCavern(double sampleRate) override;

private:
    platform::Files* files_;
    std::wstring folder_;
    std::unique_ptr<dsp::ConvolutionReverb> response_;
};

} // namespace engine
