// Internal result generation on the test model's instance: the ring keeps
// every point in order through a failed extension and a full ring, time
// going back rolls it back, points before the flushed ones are refused with
// one Warning, and failures of set-up or of the file switch it off.
#include <dirent.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "amat.h"
#include "evaluate.h"
#include "runtime_fixture.h"

namespace {

class ResultRing : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        char pattern[] = "/tmp/result_ring_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_NE(getcwd(cwd_, sizeof cwd_), nullptr);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        instance()->resultGeneration = 1;
        instance()->time = 0;
    }
    void TearDown() override {
        if (instance()->resultBuffer) finishResultGeneration(instance());
        EXPECT_EQ(chdir(cwd_), 0);
        EXPECT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
        RuntimeTest::TearDown();
    }
    void sampleAt(double t, int force = 0) {
        instance()->time = t;
        sampleResult(instance(), force);
    }
    // The times of "data_2" in the one result file of the directory.
    std::vector<double> times() {
        std::vector<double> r;
        std::string file;
        if (DIR* d = opendir(".")) {
            while (dirent* e = readdir(d))
                if (strstr(e->d_name, ".mat")) file = e->d_name;
            closedir(d);
        }
        AmatGetFile f{};
        EXPECT_EQ(amatGetOpen(file.c_str(), "Atrajectory", "1.1", &f), 0) << amatMessage;
        AmatMatrix m;
        amatInitMatrix(&m);
        while (amatGetMatrix(&f, &m, 3, nullptr, 1) <= 1) {
            if (strcmp(m.name, "data_2") == 0 && m.type == doubleMatrix)
                r.assign(static_cast<double*>(m.data), static_cast<double*>(m.data) + m.nrow);
            amatFreeMatrix(&m);
        }
        amatFreeMatrix(&m);
        amatGetClose(&f);
        return r;
    }
    int warnings(const std::string& text) {
        int n = 0;
        for (const LogRecord& r : host().log) n += r.status == fmi2Warning && r.message.find(text) != std::string::npos;
        return n;
    }

    std::string dir_;
    char cwd_[4096];
};

float f(double t) { return static_cast<float>(t); }

TEST_F(ResultRing, KeepsEveryPointInOrderThroughFailedExtensionsAndAFullRing) {
    setupResultGeneration(instance());
    ASSERT_NE(instance()->resultBuffer, nullptr);
    std::vector<double> expected = {0};
    for (int k = 1; k < 600; ++k) {
        // The third extension (at 128 buffered points) fails: the oldest 64
        // are written and the ring goes on in the entries that exist. The
        // next attempt, with the ring no longer starting at entry 0, fails
        // too; the one after succeeds.
        if (k == 128 || k == 192) TestHost::allocator.failAt = 1;
        sampleAt(0.01 * k);
        expected.push_back(f(0.01 * k));
    }
    EXPECT_EQ(warnings("buffer extension failed at t = 1.2800, forcing file output for interval t = 0.0000 ... 1.2700"),
              1);
    EXPECT_EQ(warnings("buffer extension failed at t = 1.9200, forcing file output for interval t = 0.6400 ... 1.9100"),
              1);
    EXPECT_EQ(warnings("buffer full"), 0); // only Co-Simulation is warned
    finishResultGeneration(instance());
    EXPECT_EQ(instance()->resultBuffer, nullptr);
    EXPECT_EQ(times(), expected);
}

TEST_F(ResultRing, RollsBackAndRefusesPointsBeforeTheFlushedOnes) {
    setupResultGeneration(instance());
    for (double t : {1.0, 2.0, 3.0}) sampleAt(t);
    sampleAt(1.5); // time went back: 2 and 3 are dropped
    flushResultBuffer(instance());
    host().clearLog();
    sampleAt(1.0);
    sampleAt(1.2);
    sampleAt(1.5); // the flushed time again, not forced
    EXPECT_EQ(host().logText(), "Warning|rt|Result generation:: duplicate sample point at t = 1.0000 (and others at t < "
                                "1.500000) neglected.\n");
    sampleAt(2.5);
    finishResultGeneration(instance());
    EXPECT_EQ(times(), (std::vector<double>{0, 1, 1.5, 2.5}));
}

TEST_F(ResultRing, SetUpFailuresSwitchItOffWithAWarning) {
    struct Case {
        const char* what;
        bool blockFile;     // a directory stands where the file goes
        long failAt;        // host allocation that fails
        const char* warning; // the whole Warning, or its beginning for a file
    };
    // Allocations of a set-up: the buffer, 384 points, 6 x 64 value arrays,
    // then the path.
    const long pathAllocation = 1 + 384 + 6 * 64 + 1;
    const Case cases[] = {
        {"no memory for the buffer", false, 1, "Failed to setup result generation, skipping it"},
        {"no memory for the points", false, 200, "Failed to setup result generation, skipping it"},
        {"no memory for the path", false, pathAllocation, "Failed to setup result generation, skipping it"},
        {"file cannot be opened", true, 0, "Result generation: Failed to open result rt_internal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.blockFile) {
            ASSERT_EQ(mkdir("rt_internal.mat", 0700), 0);
            for (int k = 2; k < 100; ++k) ASSERT_EQ(mkdir(("rt_internal" + std::to_string(k) + ".mat").c_str(), 0700), 0);
        }
        instance()->resultGeneration = 1;
        host().clearLog();
        TestHost::allocator.failAt = c.failAt;
        setupResultGeneration(instance());
        TestHost::allocator.failAt = 0;
        // The whole message; the reason of a failed open follows the text.
        std::vector<std::string> logged;
        for (const LogRecord& r : host().log)
            if (r.status == fmi2Warning) logged.push_back(r.message);
        ASSERT_EQ(logged.size(), 1u) << host().logText();
        EXPECT_EQ(c.blockFile ? logged[0].substr(0, strlen(c.warning)) : logged[0], c.warning);
        EXPECT_EQ(instance()->resultGeneration, 0);
        EXPECT_EQ(instance()->resultBuffer, nullptr);
        sampleAt(1.0); // switched off: nothing happens
    }
}

} // namespace
