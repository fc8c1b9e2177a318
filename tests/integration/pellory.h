// The sine source's GUID, value references and the closed form of its signal,
// shared by the integration tests of Pellory.
#pragma once

#include <math.h>

#include "test_host.h"

inline constexpr const char* kGuid = "{cc8d6023-ff71-4d3e-ac17-42fb0352faf9}";

inline constexpr fmi2ValueReference kAmplitude = ref(1, 0);
inline constexpr fmi2ValueReference kFrequency = ref(1, 1);
inline constexpr fmi2ValueReference kPhase = ref(1, 2);
inline constexpr fmi2ValueReference kOffset = ref(1, 3);
inline constexpr fmi2ValueReference kStartTime = ref(1, 4);
inline constexpr fmi2ValueReference kInput0 = ref(5, 0);
inline constexpr fmi2ValueReference kInput1 = ref(5, 1);
inline constexpr fmi2ValueReference kOutput0 = ref(4, 0, 1);
inline constexpr fmi2ValueReference kOutput1 = ref(4, 1, 1);
inline constexpr fmi2ValueReference kAuxiliary = ref(6, 0, 1);
inline constexpr fmi2ValueReference kTime = 0xFFFFFFFFu;

// Parameters and inputs of one run.
struct Sine {
    double amplitude, frequency, phase, offset, start;
    double input0 = 0, input1 = 0; // inputs, where the run sets them
};

// The auxiliary as a closed form: the offset plus, once the sine is on, the sine wave.
inline double auxiliary(const Sine& s, double t, bool on) {
    return s.offset + (on ? s.amplitude * sin(2 * M_PI * s.frequency * (t - s.start) + s.phase) : 0.0);
}
