// A host that calls the FMI functions in random order with random but
// well-formed arguments: nothing may crash, hang or leak, whatever the order.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "test_host.h"

namespace {

struct Target {
    const char* path;
    const char* guid;
};

const Target kTargets[] = {{PELLORY_SO, "{cc8d6023-ff71-4d3e-ac17-42fb0352faf9}"},
                           {VASTOREL_SO, "{64a66c5a-0fc4-43e3-93ea-8b95be22d5f0}"}};

class RandomHost : public ::testing::TestWithParam<std::tuple<int, int>> {};

fmi2ValueReference randomReference(std::mt19937& rng) {
    static const unsigned kinds[] = {1, 2, 3, 4, 5, 6, 8, 10, 13, 14, 7, 15};
    if (rng() % 20 == 0) return 0xFFFFFFFFu; // the time
    return ref(kinds[rng() % 12], rng() % 8, rng() % 6);
}

TEST_P(RandomHost, AnyCallOrderIsSafe) {
    const Target& target = kTargets[std::get<0>(GetParam())];
    const unsigned seed = static_cast<unsigned>(std::get<1>(GetParam()));
    TestHost::allocator = CountingAllocator{};
    {
        TestHost host(target.path);
        ASSERT_TRUE(host.loaded());
        const FmiApi& api = host.api();
        std::mt19937 rng(seed);
        fmi2Component instances[2] = {host.instantiate("a", fmi2ModelExchange, target.guid, seed % 2 == 0),
                                      host.instantiate("b", fmi2CoSimulation, target.guid, seed % 2 == 1)};
        ASSERT_NE(instances[0], nullptr);
        ASSERT_NE(instances[1], nullptr);
        std::vector<fmi2FMUstate> states;
        std::vector<char> image;
        double time[2] = {0, 0};
        for (int call = 0; call < 1500; ++call) {
            fmi2Component c = instances[rng() % 2];
            double* t = &time[c == instances[0] ? 0 : 1];
            fmi2ValueReference vr[3] = {randomReference(rng), randomReference(rng), randomReference(rng)};
            double values[8] = {0.5, -1, 2, 1e3, 0, 3, 4, 5};
            int ints[8] = {0, 1, -1, 7, 0, 1, 1, 0};
            fmi2String texts[3] = {"x", "", "y"};
            fmi2EventInfo info{};
            fmi2Boolean b1 = 0, b2 = 0;
            const size_t n = rng() % 4;
            switch (rng() % 24) {
            case 0: api.SetupExperiment(c, rng() % 2, 1e-6, 0.0, rng() % 2, 10.0); break;
            case 1: api.EnterInitializationMode(c); break;
            case 2: api.ExitInitializationMode(c); break;
            case 3: api.Terminate(c); break;
            case 4: api.Reset(c); *t = 0; break;
            case 5: api.GetReal(c, vr, n, values); break;
            case 6: api.SetReal(c, vr, n, values); break;
            case 7: api.GetInteger(c, vr, n, ints); break;
            case 8: api.SetBoolean(c, vr, n, ints); break;
            case 9: api.GetString(c, vr, n, texts); break;
            case 10: api.SetString(c, vr, n, texts); break;
            case 11: {
                fmi2FMUstate s = nullptr;
                if (api.GetFMUstate(c, &s) == fmi2OK && s) states.push_back(s);
                break;
            }
            case 12:
                if (!states.empty()) api.SetFMUstate(c, states[rng() % states.size()]);
                break;
            case 13: {
                size_t size = 0;
                if (!states.empty()) {
                    fmi2FMUstate s = states[rng() % states.size()];
                    if (api.SerializedFMUstateSize(c, s, &size) == fmi2OK && size < (1u << 24)) {
                        image.assign(size, 0);
                        api.SerializeFMUstate(c, s, image.data(), size);
                    }
                }
                break;
            }
            case 14:
                if (!image.empty()) {
                    fmi2FMUstate s = nullptr;
                    if (rng() % 3 == 0) image[rng() % image.size()] ^= static_cast<char>(1 + rng() % 255);
                    if (api.DeSerializeFMUstate(c, image.data(), image.size() - (rng() % 2) * (rng() % image.size()), &s) == fmi2OK && s)
                        states.push_back(s);
                }
                break;
            case 15: api.NewDiscreteStates(c, &info); break;
            case 16: api.EnterEventMode(c); break;
            case 17: api.EnterContinuousTimeMode(c); break;
            case 18: *t += 0.05 * (rng() % 5); api.SetTime(c, *t); break;
            case 19: api.GetDerivatives(c, values, 3); api.GetEventIndicators(c, values, 6); break;
            case 20: api.CompletedIntegratorStep(c, fmi2True, &b1, &b2); break;
            case 21: {
                double h = 0.05 * (rng() % 4);
                if (api.DoStep(c, *t, h, fmi2True) == fmi2OK) *t += h;
                fmi2Real last = 0;
                if (api.GetRealStatus(c, fmi2LastSuccessfulTime, &last) == fmi2OK) *t = last;
                break;
            }
            case 22: api.SetRealInputDerivatives(c, vr, n, ints, values); api.GetRealOutputDerivatives(c, vr, n, ints, values); break;
            case 23: api.GetDirectionalDerivative(c, vr, n, vr, n, values, values + 4); break;
            }
            host.clearLog();
        }
        for (fmi2FMUstate& s : states) api.FreeFMUstate(instances[0], &s);
        api.FreeInstance(instances[0]);
        api.FreeInstance(instances[1]);
    }
    EXPECT_EQ(TestHost::allocator.live, 0);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomHost, ::testing::Combine(::testing::Values(0, 1), ::testing::Range(1, 7)),
                         [](const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
                             return std::string(std::get<0>(info.param) == 0 ? "Pellory" : "Vastorel") + "_seed" +
                                    std::to_string(std::get<1>(info.param));
                         });

} // namespace
