#pragma once
// Paul Kellet's refined pink filter: white noise through six leaky
// integrators and a one-sample term, with his published coefficients,
// falls by 3 dB per octave within 0.05 dB above 9.2 Hz at 44.1 kHz. Its
// gain is several times unity at low frequencies; callers scale the output.

namespace dsp {

struct PinkFilter {
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;

    double process(double white) noexcept
    {
        b0 = 0.99886 * b0 + white * 0.0555179;
        b1 = 0.99332 * b1 + white * 0.0750759;
        b2 = 0.96900 * b2 + white * 0.1538520;
        b3 = 0.86650 * b3 + white * 0.3104856;
        b4 = 0.55000 * b4 + white * 0.5329522;
        b5 = -0.7616 * b5 - white * 0.0168980;
        const double pink = b0 + b1 + b2 + b3 + b4 + b5 + b6 + white * 0.5362;
        b6 = white * 0.115926;
        return pink;
    }
};

} // namespace dsp
