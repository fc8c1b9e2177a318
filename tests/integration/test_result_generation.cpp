// Internal result generation on real instances of both libraries: the switch
// is set through the instance record, a short Model Exchange or
// Co-Simulation session runs, and the result file is read back with our
// reader and with an independent MATLAB version 4 reader.
#include <gtest/gtest.h>
#include <matio.h>
#include <stdio.h>

#include <algorithm>

#include <memory>
#include <string>
#include <vector>

#include "amat.h"
#include "result_switch.h"
#include "test_host.h"

namespace {

struct Library {
    const char* path;
    const char* guid;
};
const Library kPellory{PELLORY_SO, "{cc8d6023-ff71-4d3e-ac17-42fb0352faf9}"};
const Library kVastorel{VASTOREL_SO, "{64a66c5a-0fc4-43e3-93ea-8b95be22d5f0}"};

// One matrix as the independent reader sees it (numbers as doubles, text as
// its rows).
struct PeerMatrix {
    std::string name;
    size_t rows = 0, cols = 0;
    std::vector<double> values;
    std::string bytes; // a text matrix, column by column

    // The rows (or, transposed, the columns) of a text matrix.
    std::vector<std::string> text(bool transposed = false) const {
        const size_t n = transposed ? cols : rows, w = transposed ? rows : cols;
        std::vector<std::string> r(n);
        for (size_t i = 0; i < n; ++i)
            for (size_t c = 0; c < w; ++c) {
                const char ch = transposed ? bytes[c + i * rows] : bytes[i + c * rows];
                if (ch == '\0') break;
                r[i] += ch;
            }
        return r;
    }
};

std::vector<PeerMatrix> readWithPeer(const std::string& path) {
    std::vector<PeerMatrix> result;
    mat_t* mat = Mat_Open(path.c_str(), MAT_ACC_RDONLY);
    if (!mat) return result;
    while (matvar_t* v = Mat_VarReadNext(mat)) {
        PeerMatrix m{v->name ? v->name : "", v->dims[0], v->dims[1], {}, {}};
        const size_t n = m.rows * m.cols;
        if (v->class_type == MAT_C_CHAR) {
            m.bytes.assign(static_cast<const char*>(v->data), n);
        } else if (v->data_type == MAT_T_DOUBLE) {
            const double* d = static_cast<const double*>(v->data);
            m.values.assign(d, d + n);
        }
        result.push_back(m);
        Mat_VarFree(v);
    }
    Mat_Close(mat);
    return result;
}

class ResultGeneration : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::string& f : files_) remove(f.c_str());
        EXPECT_EQ(TestHost::allocator.live, 0) << "blocks still live";
    }

    // Instantiates with the switch on, as nothing in the libraries sets it.
    fmi2Component start(TestHost& host, const Library& lib, const char* name, fmi2Type type) {
        fmi2Component c = host.instantiate(name, type, lib.guid, true);
        EXPECT_NE(c, nullptr);
        if (!c) return nullptr;
        setResultGenerationSwitch(c, 1);
        EXPECT_EQ(host->SetupExperiment(c, fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
        EXPECT_EQ(host->EnterInitializationMode(c), fmi2OK);
        EXPECT_EQ(host->ExitInitializationMode(c), fmi2OK);
        return c;
    }

    // FMU states are refused while results are generated.
    void expectStatesRefused(TestHost& host, fmi2Component c) {
        fmi2FMUstate state = nullptr;
        size_t size = 0;
        EXPECT_EQ(host->GetFMUstate(c, &state), fmi2Warning);
        EXPECT_EQ(state, nullptr);
        EXPECT_EQ(host->SerializedFMUstateSize(c, state, &size), fmi2Warning);
        EXPECT_TRUE(host.logContains(
            "fmi2GetFMUstate failed, FMU uses internal result generation; this is not possible to combine with "
            "fmi2GetFMUstate"));
    }

    // Ten Model Exchange steps of 0.1 (explicit Euler) up to t = 1.
    void runModelExchange(TestHost& host, const Library& lib, const char* name) {
        fmi2Component c = start(host, lib, name, fmi2ModelExchange);
        ASSERT_NE(c, nullptr);
        fmi2EventInfo info{};
        ASSERT_EQ(host->NewDiscreteStates(c, &info), fmi2OK);
        ASSERT_EQ(host->EnterContinuousTimeMode(c), fmi2OK);
        expectStatesRefused(host, c);
        std::vector<double> x(8), dx(8);
        const size_t nx = lib.path == kVastorel.path ? 3 : 0;
        for (int k = 1; k <= 10; ++k) {
            ASSERT_EQ(host->GetContinuousStates(c, x.data(), nx), fmi2OK);
            ASSERT_EQ(host->GetDerivatives(c, dx.data(), nx), fmi2OK);
            for (size_t i = 0; i < nx; ++i) x[i] += 0.1 * dx[i];
            ASSERT_EQ(host->SetTime(c, 0.1 * k), fmi2OK);
            ASSERT_EQ(host->SetContinuousStates(c, x.data(), nx), fmi2OK);
            fmi2Boolean enterEventMode = fmi2False, terminate = fmi2False;
            ASSERT_EQ(host->CompletedIntegratorStep(c, fmi2True, &enterEventMode, &terminate), fmi2OK);
        }
        EXPECT_EQ(host->Terminate(c), fmi2OK);
        host->FreeInstance(c);
    }

    // Four Co-Simulation steps of 0.25 up to t = 1.
    void runCoSimulation(TestHost& host, const Library& lib, const char* name) {
        fmi2Component c = start(host, lib, name, fmi2CoSimulation);
        ASSERT_NE(c, nullptr);
        expectStatesRefused(host, c);
        for (int k = 0; k < 4; ++k) ASSERT_EQ(host->DoStep(c, 0.25 * k, 0.25, fmi2True), fmi2OK);
        EXPECT_EQ(host->Terminate(c), fmi2OK);
        host->FreeInstance(c);
    }

    // Checks the trajectory with both readers; returns the times of "data_2".
    std::vector<double> expectTrajectory(const std::string& path) {
        files_.push_back(path);
        const std::vector<PeerMatrix> m = readWithPeer(path);
        const std::vector<std::string> names = {"Aclass", "name", "description", "dataInfo", "data_1", "data_2"};
        EXPECT_EQ(m.size(), names.size()) << path;
        if (m.size() != names.size()) return {};
        for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(m[i].name, names[i]);
        EXPECT_EQ(m[0].text(), (std::vector<std::string>{"Atrajectory", "1.1", " ", "binTrans"}));
        // After the class matrix every matrix is stored transposed.
        EXPECT_EQ(m[1].text(true), std::vector<std::string>{"Time"});
        EXPECT_EQ(m[2].text(true), std::vector<std::string>{"Time in seconds"});
        EXPECT_EQ(m[3].values, (std::vector<double>{0, 1, 0, -1}));
        EXPECT_EQ(m[4].values, (std::vector<double>{0, static_cast<float>(1e-9)}));
        EXPECT_EQ(m[5].rows, 1u);
        expectOwnReaderAgrees(path, m);
        return m[5].values;
    }

    // Our reader undoes the transposition the class matrix announces.
    void expectOwnReaderAgrees(const std::string& path, const std::vector<PeerMatrix>& peer) {
        AmatGetFile file{};
        ASSERT_EQ(amatGetOpen(path.c_str(), "Atrajectory", "1.1", &file), 0) << amatMessage;
        EXPECT_EQ(file.binTrans, 1);
        for (size_t i = 1; i < peer.size(); ++i) {
            AmatMatrix m;
            amatInitMatrix(&m);
            ASSERT_EQ(amatGetMatrix(&file, &m, 3, nullptr, 1), 0) << amatMessage;
            EXPECT_EQ(std::string(m.name), peer[i].name);
            EXPECT_EQ(static_cast<size_t>(m.nrow), peer[i].cols);
            EXPECT_EQ(static_cast<size_t>(m.ncol), peer[i].rows);
            if (m.type == doubleMatrix) {
                for (size_t k = 0; k < peer[i].values.size(); ++k)
                    EXPECT_EQ(static_cast<double*>(m.data)[k], peer[i].values[k]);
            }
            amatFreeMatrix(&m);
        }
        amatGetClose(&file);
    }

    std::vector<std::string> files_;
};

// Times start at 0, never go back, and the last one is the end of the run.
void expectTimes(const std::vector<double>& times, const std::vector<double>& required) {
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times.front(), 0.0);
    EXPECT_EQ(times.back(), 1.0f);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_LE(times[i - 1], times[i]);
    for (double t : required)
        EXPECT_NE(std::find(times.begin(), times.end(), static_cast<double>(static_cast<float>(t))), times.end())
            << "no point at " << t;
}

TEST_F(ResultGeneration, ModelExchangeAndCoSimulationOfBothLibraries) {
    struct Case {
        const Library* lib;
        fmi2Type type;
        const char* instance;
        const char* file;
    };
    const Case cases[] = {
        {&kPellory, fmi2ModelExchange, "rg pellory.me", "rg_pellory_me_internal.mat"},
        {&kPellory, fmi2CoSimulation, "rg pellory:cs", "rg_pellory_cs_internal2.mat"},
        {&kVastorel, fmi2ModelExchange, "rg/vastorel(me)", "rg_vastorel_me__internal.mat"},
        {&kVastorel, fmi2CoSimulation, "", "dres_internal2.mat"},
    };
    // Two sessions per library load: the second set-up of a process numbers
    // its file.
    for (int pair = 0; pair < 2; ++pair) {
        TestHost host(cases[2 * pair].lib->path);
        ASSERT_TRUE(host.loaded()) << host.error();
        for (const Case& k : {cases[2 * pair], cases[2 * pair + 1]}) {
            SCOPED_TRACE(k.file);
            host.clearLog();
            if (k.type == fmi2ModelExchange)
                runModelExchange(host, *k.lib, k.instance);
            else
                runCoSimulation(host, *k.lib, k.instance);
            EXPECT_TRUE(host.logContains("Setting up result generation"));
            const std::vector<double> times = expectTrajectory(k.file);
            if (k.type == fmi2ModelExchange)
                expectTimes(times, {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9});
            else
                expectTimes(times, {});
        }
    }
}

} // namespace
