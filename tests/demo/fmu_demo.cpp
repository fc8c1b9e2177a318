// Loads an FMU with our test host and runs a short session of it in both FMI
// modes, printing what the library logs.
#include <stdio.h>
#include <string.h>

#include <string>

#include "test_host.h"

static const char* guidFor(const std::string& path) {
    if (path.find("Pellory") != std::string::npos) return "{cc8d6023-ff71-4d3e-ac17-42fb0352faf9}";
    if (path.find("Vastorel") != std::string::npos) return "{64a66c5a-0fc4-43e3-93ea-8b95be22d5f0}";
    return "";
}

static void printLog(TestHost& host) {
    for (const LogRecord& r : host.log) printf("  [%s] %s: %s\n", statusName(r.status), r.instanceName.c_str(), r.message.c_str());
    host.clearLog();
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s <path to FMU library>\n", argv[0]);
        return 2;
    }
    TestHost host(argv[1]);
    if (!host.loaded()) {
        fprintf(stderr, "cannot load %s: %s\n", argv[1], host.error().c_str());
        return 1;
    }
    printf("%s: FMI %s, platform %s\n", argv[1], host->GetVersion(), host->GetTypesPlatform());
    const fmi2Type types[2] = {fmi2ModelExchange, fmi2CoSimulation};
    for (fmi2Type type : types) {
        printf("%s:\n", type == fmi2ModelExchange ? "Model Exchange" : "Co-Simulation");
        fmi2Component c = host.instantiate("demo", type, guidFor(argv[1]));
        printLog(host);
        if (!c) return 1;
        host->FreeInstance(c);
        printLog(host);
    }
    if (TestHost::allocator.live != 0) {
        fprintf(stderr, "%ld blocks not freed\n", TestHost::allocator.live);
        return 1;
    }
    return 0;
}
