// Loads an FMU with our test host and runs a short simulation of it in both
// FMI modes, printing the outputs and what the library logs.
#include <stdio.h>
#include <string.h>

#include <string>

#include "test_host.h"

namespace {

struct ModelInfo {
    const char* guid;
    unsigned inputs[2];
    unsigned outputs[2];
    int nOutputs;
    int nStates;
    int nIndicators;
    double inputValues[2];
    const char* inputText;
    double coSimulationStop; // the Co-Simulation run: stop time and communication step
    double coSimulationStep;
};

// Value references: bits 24-27 the kind (4 output, 5 input), bits 28-31 the level the value needs.
const ModelInfo kPellory = {"{cc8d6023-ff71-4d3e-ac17-42fb0352faf9}", {0x05000000u, 0x05000001u},
                            {0x14000000u, 0x14000001u}, 2, 0, 0, {2.0, 1.0}, "inputs 2 and 1", 1.0, 0.25};
const ModelInfo kVastorel = {"{64a66c5a-0fc4-43e3-93ea-8b95be22d5f0}", {0x05000000u, 0x05000001u},
                             {0x14000000u, 0}, 1, 3, 6, {1000.0, 288.15},
                             "heat input 1000 W, outdoors 288.15 K", 86400.0, 10800.0};

void printLog(TestHost& host) {
    for (const LogRecord& r : host.log)
        printf("  [%s] %s: %s\n", statusName(r.status), r.instanceName.c_str(), r.message.c_str());
    host.clearLog();
}

void printOutputs(TestHost& host, fmi2Component c, const ModelInfo& model, double time) {
    double y[2] = {0, 0};
    fmi2Status status = host->GetReal(c, model.outputs, static_cast<size_t>(model.nOutputs), y);
    printf("  t = %-8.2f", time);
    for (int i = 0; i < model.nOutputs; ++i) printf("  y%d = % .6f", i, y[i]);
    printf("%s\n", status == fmi2OK ? "" : "  (status not OK)");
}

// Model Exchange with explicit Euler steps, event iteration at time events.
bool simulateModelExchange(TestHost& host, const ModelInfo& model) {
    fmi2Component c = host.instantiate("demo", fmi2ModelExchange, model.guid, false);
    if (!c) return false;
    bool ok = host->SetReal(c, model.inputs, 2, model.inputValues) == fmi2OK &&
              host->SetupExperiment(c, fmi2False, 0, 0.0, fmi2True, 1.0) == fmi2OK &&
              host->EnterInitializationMode(c) == fmi2OK && host->ExitInitializationMode(c) == fmi2OK;
    fmi2EventInfo info{};
    info.newDiscreteStatesNeeded = fmi2True;
    while (ok && info.newDiscreteStatesNeeded) ok = host->NewDiscreteStates(c, &info) == fmi2OK;
    ok = ok && host->EnterContinuousTimeMode(c) == fmi2OK;
    double x[8] = {0}, dx[8] = {0};
    const double h = 0.25;
    for (double t = 0; ok && t <= 1.0 + 1e-9; t += h) {
        double next = t;
        if (t > 0) {
            ok = host->SetTime(c, t) == fmi2OK;
            if (model.nStates > 0) {
                ok = ok && host->GetContinuousStates(c, x, static_cast<size_t>(model.nStates)) == fmi2OK &&
                     host->GetDerivatives(c, dx, static_cast<size_t>(model.nStates)) == fmi2OK;
                for (int i = 0; i < model.nStates; ++i) x[i] += h * dx[i];
                ok = ok && host->SetContinuousStates(c, x, static_cast<size_t>(model.nStates)) == fmi2OK;
            }
            fmi2Boolean enterEvent = fmi2False, terminate = fmi2False;
            ok = ok && host->CompletedIntegratorStep(c, fmi2True, &enterEvent, &terminate) == fmi2OK;
            if (ok && (enterEvent || (info.nextEventTimeDefined && info.nextEventTime <= t))) {
                ok = host->EnterEventMode(c) == fmi2OK;
                info.newDiscreteStatesNeeded = fmi2True;
                while (ok && info.newDiscreteStatesNeeded) ok = host->NewDiscreteStates(c, &info) == fmi2OK;
                ok = ok && host->EnterContinuousTimeMode(c) == fmi2OK;
            }
        }
        if (ok) printOutputs(host, c, model, next);
    }
    ok = ok && host->Terminate(c) == fmi2OK;
    host->FreeInstance(c);
    return ok;
}

bool simulateCoSimulation(TestHost& host, const ModelInfo& model) {
    fmi2Component c = host.instantiate("demo", fmi2CoSimulation, model.guid, false);
    if (!c) return false;
    const double stop = model.coSimulationStop;
    bool ok = host->SetReal(c, model.inputs, 2, model.inputValues) == fmi2OK &&
              host->SetupExperiment(c, fmi2False, 0, 0.0, fmi2True, stop) == fmi2OK &&
              host->EnterInitializationMode(c) == fmi2OK && host->ExitInitializationMode(c) == fmi2OK;
    const double h = model.coSimulationStep;
    if (ok) printOutputs(host, c, model, 0.0);
    for (double t = 0; ok && t < stop - 1e-9 * stop; t += h) {
        ok = host->DoStep(c, t, h, fmi2True) == fmi2OK;
        if (ok) printOutputs(host, c, model, t + h);
    }
    ok = ok && host->Terminate(c) == fmi2OK;
    host->FreeInstance(c);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s <path to FMU library>\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const ModelInfo& model = path.find("Vastorel") != std::string::npos ? kVastorel : kPellory;
    TestHost host(path);
    if (!host.loaded()) {
        fprintf(stderr, "cannot load %s: %s\n", argv[1], host.error().c_str());
        return 1;
    }
    printf("%s: FMI %s, platform %s\n", argv[1], host->GetVersion(), host->GetTypesPlatform());
    printf("Model Exchange, %s, one second:\n", model.inputText);
    bool me = simulateModelExchange(host, model);
    printLog(host);
    printf("Co-Simulation, %s, %g s:\n", model.inputText, model.coSimulationStop);
    bool cs = simulateCoSimulation(host, model);
    printLog(host);
    if (TestHost::allocator.live != 0) {
        fprintf(stderr, "%ld blocks not freed\n", TestHost::allocator.live);
        return 1;
    }
    if (!me || !cs) {
        fprintf(stderr, "the simulation did not complete\n");
        return 1;
    }
    return 0;
}
