#include "dsp/room.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {

// Tables keep their rows as written.
// clang-format off
// The explicit stereo reflections of "Haunted Cavern" (ms: left, right).
constexpr StereoTap kCavernStereoTaps[] = {
    {111.042, -0.0095, 0.0095}, {113.75, -0.0246, -0.0246}, {115.896, 0.1178, 0}, {120.771, 0.0277, 0.0125},
    {121.167, 0.0083, -0.0083}, {126.5, 0, 0.117}, {131.875, -0.012, 0.012}, {132.333, -0.01, 0.01},
    {138.229, 0.1218, 0}, {144.167, 0.0089, -0.0089}, {144.625, 0.0138, -0.0138}, {145.812, 0.0556, 0},
    {151.167, 0, 0.1068}, {156.417, -0.052, 0}, {157.708, -0.0096, 0.0096}, {161.312, 0.0231, 0.0231},
    {168.146, -0.0544, 0}, {170.458, 0, -0.0544}, {181.083, -0.0534, 0.0534}, {187.979, 0.0118, -0.0118},
    {192.729, -0.0065, 0.0065}, {192.792, -0.0553, -0.0553}, {203.375, -0.058, 0}, {205.729, 0, -0.0514},
    {210.729, 0.0269, 0.0269}, {213, 0, -0.0568}, {215.104, 0.0558, 0}, {223.604, 0, -0.0498},
    {228.042, -0.0554, 0}, {235.333, 0, -0.0556}, {248.271, 0, 0.0522}, {276.458, -0.0314, -0.0314},
    {285.25, 0.0278, 0.0278}, {317.104, -0.0237, -0.0237}, {323.792, 0.0239, 0.0239}, {425.583, 0.08, 0},
    {427.688, 0, -0.022}, {433.729, 0, -0.042}, {444.354, 0, 0.0724}, {455.5, 0.0428, 0},
    {456.062, 0, 0.0452}, {466.104, -0.02, 0.02}, {466.229, 0, 0.04}, {470.125, 0.0748, 0},
    {477.833, -0.0382, 0}, {484.146, 0.021, 0}, {486.229, -0.024, 0.024}, {488.333, 0, -0.0326},
    {490.771, -0.0456, 0}, {492.25, 0, 0.0646}, {498.917, 0, 0.0618}, {510.646, 0, -0.052},
    {523.583, 0, -0.028}, {524.646, -0.0362, 0}, {535.271, -0.045, 0}, {559.938, -0.04, 0},
    {564.688, 0.0234, -0.0234}, {576.417, 0, -0.039}, {589.354, 0, 0.043},
};

// The explicit mono taps of "Haunted Cavern" into the late input (ms: gain).
constexpr MonoTap kCavernMonoTaps[] = {
    {111.042, 0.0533}, {120.5, 0.0474}, {130.458, 0.0999}, {138.792, 0.1005},
    {149.875, -0.0413}, {157.083, -0.0388}, {165.521, -0.0135}, {165.604, -0.0135},
    {166.646, 0.0525}, {169.292, 0.016}, {170.646, 0.0306}, {175.375, 0.0205},
    {188.708, -0.0064}, {193.667, -0.0064}, {413.042, 0.0415}, {475.042, 0.0328},
};
// clang-format on

// A room with the twenty-one standard values and the extension defaults.
RoomParams base(double density, double diffusion, double gain, double gainHf, double gainLf,
    double decay, double hfRatio, double lfRatio, double reflGain, double reflDelay, double lateGain, double lateDelay,
    double echoTime, double echoDepth, double modTime, double modDepth, double airHf, double hfRef, double lfRef,
    int hfLimit)
{
    RoomParams r;
    r.density = density;
    r.diffusion = diffusion;
    r.gain = gain;
    r.gainHf = gainHf;
    r.gainLf = gainLf;
    r.decayTime = decay;
    r.decayHfRatio = hfRatio;
    r.decayLfRatio = lfRatio;
    r.reflectionsGain = reflGain;
    r.reflectionsDelay = reflDelay;
    r.lateGain = lateGain;
    r.lateDelay = lateDelay;
    r.echoTime = echoTime;
    r.echoDepth = echoDepth;
    r.modulationTime = modTime;
    r.modulationDepth = modDepth;
    r.airAbsorptionHf = airHf;
    r.hfReference = hfRef;
    r.lfReference = lfRef;
    r.decayHfLimit = hfLimit;
    return r;
}

RoomParams hauntedCavern()
{
    RoomParams r = base(1, 0.4696, 1, 0.286, 1, 15.6678, 0.8, 1.035, 1, 0.002, 3.46, 0.43, 0.498,
        0.12, 0.042, 0.4819, 0.99426, 5031.3, 492.5, 0);
    r.lateLineMultiplier = {1.0, 1.0, 0.9744, 1.0};
    r.extraEchoDelay = {0.0605, 0.0927};
    r.extraEchoGain = {0.1, 0.15};
    r.extraEchoFeedback = {0.67, 0.5};
    r.reserved = 15.65;
    r.modulationPhase = {0.0, 0.0, 0.0, 0.0};
    r.earlyTapSpread = 0.5;
    r.lateFilterReference = 5500.0;
    r.stereoTaps = kCavernStereoTaps;
    r.stereoTapCount = static_cast<int>(std::size(kCavernStereoTaps));
    r.tapGainScale = 2.98;
    r.tapOffset = 2;
    r.inputPeak = {205.0, -1.3, 3.0};
    r.wetPeaks = {{{162.0, 1.6, 4.0}, {112.0, -1.5, 2.0}, {205.0, -2.0, 4.0}, {6500.0, 0.45, 0.5}}};
    r.midSide = {{{160.0, 2.0, 6.0}, {380.0, 2.2, 3.0}}};
    r.decayPeak = {202.0, 0.85, 8.0};
    r.diffuser = {0.7, 0.68};
    r.monoTaps = kCavernMonoTaps;
    r.monoTapCount = static_cast<int>(std::size(kCavernMonoTaps));
    r.lateMidGain = 0.62;
    r.outputShelfFreq = 800.0;
    r.outputShelfDb = 3.0;
    return r;
}

std::array<RoomParams, kRoomCount> makeRooms()
{
    // clang-format off
    return {{
        base(1, 1, 0.402717, 0.578096, 1, 4.32, 0.59, 1, 0.403181, 0.02, 0.716968, 0.03, 0.25, 0, 0.25, 0, 0.99426, 5000, 250, 1),
        base(0.456533, 1, 0.254097, 1, 1, 14.69, 1.54, 1, 2.483133, 0.089, 0.00001, 0.076, 0.075, 0.3, 0.04, 0, 0.99426, 5000, 250, 1),
        base(0.002744, 1, 0.653131, 0.251189, 1, 1.49, 0.54, 1, 0.653131, 0.007, 3.273407, 0.011, 0.25, 0, 0.25, 0, 0.99426, 5000, 250, 1),
        base(1, 0.8, 1, 0.30903, 1, 5.9, 0.7, 1, 0.004677, 0.048, 1.174898, 0.048, 0.2, 0.09, 0.128, 0, 0.989692, 5000, 250, 1),
        base(1, 0.5, 1, 0.568853, 1, 2.03, 0.5, 1, 0.000275, 0.023, 0.683912, 0.044, 0.213, 0.05, 0.208, 0, 0.991973, 5000, 250, 1),
        base(1, 0.72, 1, 0.177828, 1, 2.32, 0.7, 1, 0.001216, 0.032, 0.436516, 0.037, 0.192, 0.07, 0.128, 0, 0.99426, 5000, 250, 1),
        base(1, 1, 0.638263, 0.562341, 1, 3.92, 0.7, 1, 0.242661, 0.02, 0.9977, 0.029, 0.25, 0, 0.25, 0, 0.99426, 5000, 250, 1),
        base(1, 0.8, 1, 0.638263, 1, 1.45, 0.72, 1, 1.428894, 0.025, 0.350752, 0.012, 0.25, 0, 1.67, 0, 0.99426, 5000, 250, 1),
        hauntedCavern(),
        base(1, 0.9, 0.501187, 0.638263, 1, 4.25, 0.41, 1, 0.870964, 0.05, 2.60016, 0.021, 0.099, 0, 0.2, 0.086, 0.99426, 5000, 250, 1),
        base(1, 1, 0.501187, 0.54325, 1, 1.26, 0.7, 1, 0.822243, 0.006, 2.290868, 0.093, 0.25, 0, 0.057, 0, 0.99426, 5000, 250, 1),
        base(0.015625, 1, 0.20893, 0.001, 1, 0.5, 0.1, 1, 0.205116, 0.003, 0.280543, 0.004, 0.25, 0, 0.25, 0, 0.99426, 5000, 250, 1),
        base(1, 0.95, 1, 0.707946, 1, 6.2, 1.06, 1, 0.390841, 0.083, 0.285102, 0.011, 0.25, 0, 0.395, 0, 0.99426, 5000, 250, 1),
        base(0.008, 0.9, 1, 0.60256, 1, 0.4, 0.83, 1, 0.154882, 0.002, 1.64059, 0.003, 0.25, 0, 0.25, 0, 0.99426, 5000, 250, 1),
        base(1, 1, 0.977237, 0.676083, 1, 2, 0.7, 1, 0.467735, 0.01, 1.862087, 0.015, 0.128, 0, 0.128, 0, 0.99426, 5000, 250, 1),
    }};
    // clang-format on
}

} // namespace

const std::array<RoomParams, kRoomCount>& rooms()
{
    static const std::array<RoomParams, kRoomCount> table = makeRooms();
    return table;
}

const RoomParams& room(int preset)
{
    return rooms()[static_cast<size_t>(std::clamp(preset, 0, kRoomCount - 1))];
}

double roomSizeScale(double density)
{
    return std::max(1.0, std::cbrt(1000.0 * density));
}

} // namespace dsp
