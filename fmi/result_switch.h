// The internal-result-generation switch of an instance, for tests: nothing
// in the libraries switches result generation on, so a test that runs it on
// a real instance sets the switch in the instance record through its offset
// (checked against the record at compile time in result_generation.cpp).
#pragma once

#include <stdint.h>
#include <string.h>

enum { kResultGenerationSwitchOffset = 536 };

inline void setResultGenerationSwitch(void* component, int32_t on) {
    memcpy(static_cast<char*>(component) + kResultGenerationSwitchOffset, &on, sizeof on);
}

inline int32_t resultGenerationSwitch(const void* component) {
    int32_t on;
    memcpy(&on, static_cast<const char*>(component) + kResultGenerationSwitchOffset, sizeof on);
    return on;
}
