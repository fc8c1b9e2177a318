// Model data: instantiation fills the instance from the template, the
// resources directory, external libraries and the model-data accessors.
#include <string.h>

#include <string>

#include "external_libraries.h"
#include "model_interface.h"
#include "runtime_fixture.h"

namespace {

using ModelDataTest = RuntimeTest;

TEST_F(ModelDataTest, InstanceHoldsStartValuesAndOwnBlocks) {
    ModelInstance* m = instance();
    EXPECT_EQ(m->nx, 2u);
    EXPECT_EQ(m->ni, 4u) << "two indicators per relation";
    EXPECT_EQ(m->x[0], 1.0);
    EXPECT_EQ(m->x[1], -2.0);
    EXPECT_EQ(m->p[2], 2.5);
    EXPECT_EQ(m->u[1], 3.0);
    EXPECT_EQ(m->nominals[0], 1.0);
    EXPECT_STREQ(m->strings[0], "first start text");
    EXPECT_STREQ(m->strings[1], "second");
    EXPECT_EQ(m->modelData->timeData, m->timeData);
    EXPECT_EQ(m->modelData->flags, m->flags);
    EXPECT_EQ(m->modelData->lambda, 1.0);
    EXPECT_EQ(m->modelData->homotopyStep, 0.1);
    EXPECT_EQ(m->linearizationDirty, 1);
    EXPECT_EQ(m->nextOutputTime, 1e100);
    EXPECT_STREQ(m->modelData->resourcesDirectory, "/tmp/resources/");
}

TEST_F(ModelDataTest, LongStartTextsAreCutToTheSlot) {
    static std::string longText(600, 's');
    static const char* const starts[2] = {longText.c_str(), nullptr};
    const char* const* saved = modelTable.stringStartValues;
    modelTable.stringStartValues = starts;
    fmi2Component c = host().instantiate("long", fmi2ModelExchange, MODEL_GUID);
    modelTable.stringStartValues = saved;
    ASSERT_NE(c, nullptr);
    ModelInstance* m = static_cast<ModelInstance*>(c);
    EXPECT_EQ(std::string(m->strings[0]), std::string(500, 's'));
    EXPECT_STREQ(m->strings[1], "");
    host()->FreeInstance(c);
}

TEST_F(ModelDataTest, FailedStringSlotLeavesNothingForFreeToMishandle) {
    // Walk a failure over every allocation of an instantiation with string variables.
    const CountingAllocator fixture = TestHost::allocator; // the fixture's own instance stays live
    TestHost::allocator = CountingAllocator{};
    fmi2Component c = host().instantiate("walk", fmi2ModelExchange, MODEL_GUID);
    ASSERT_NE(c, nullptr);
    host()->FreeInstance(c);
    const long allocations = TestHost::allocator.total;
    for (long n = 1; n <= allocations; ++n) {
        TestHost::allocator = CountingAllocator{};
        TestHost::allocator.failAt = n;
        EXPECT_EQ(host().instantiate("walk", fmi2ModelExchange, MODEL_GUID), nullptr) << "allocation " << n;
        EXPECT_EQ(TestHost::allocator.live, 0) << "allocation " << n;
    }
    TestHost::allocator = fixture;
}

TEST(ResourceLocation, FileUrisBecomePaths) {
    char path[64];
    ASSERT_TRUE(resourceLocationToPath("file:///opt/fmu/resources", path, sizeof path));
    EXPECT_STREQ(path, "/opt/fmu/resources");
    ASSERT_TRUE(resourceLocationToPath("file:/opt/fmu/resources/", path, sizeof path));
    EXPECT_STREQ(path, "/opt/fmu/resources/");
    ASSERT_TRUE(resourceLocationToPath("file://localhost/opt/my%20fmu", path, sizeof path));
    EXPECT_STREQ(path, "/opt/my fmu");
    EXPECT_FALSE(resourceLocationToPath("http://host/x", path, sizeof path));
    EXPECT_FALSE(resourceLocationToPath(nullptr, path, sizeof path));
    EXPECT_FALSE(resourceLocationToPath(("file:///" + std::string(100, 'p')).c_str(), path, sizeof path));
}

TEST(ResourceLocation, DirectoriesGetOneSeparator) {
    static ModelData data;
    setResourcesDirectory(&data, "C:\\dir\\");
    EXPECT_STREQ(resourcesDirectory(&data), "C:\\dir\\");
    setResourcesDirectory(&data, "/dir");
    EXPECT_STREQ(resourcesDirectory(&data), "/dir/");
    std::string longPath(1023, 'd');
    setResourcesDirectory(&data, longPath.c_str());
    EXPECT_EQ(std::string(data.resourcesDirectory), std::string(1022, 'd') + "/");
    setResourcesDirectory(&data, "");
    EXPECT_EQ(data.resourcesDirectory[0], '\0');

    setResourcesDirectoryGlobal("/global");
    EXPECT_STREQ(currentResourcesDirectory(), "/global/");
    setResourcesDirectoryGlobal(std::string(5000, 'g').c_str());
    EXPECT_LT(strlen(currentResourcesDirectory()), 1000u) << "the global buffer is bounded";
    setResourcesDirectoryGlobal(nullptr);
    // Unset, it is derived from the library's path, or the fixed fallback.
    EXPECT_NE(std::string(currentResourcesDirectory()).find("esources/"), std::string::npos);
}

TEST(ExternalLibraries, EmptyListAndDoubleUnloadAreHarmless) {
    const char* const empty[] = {nullptr};
    void** handles = nullptr;
    loadExternalLibraries(empty, &handles, 1, "/tmp/");
    EXPECT_EQ(handles, nullptr);
    const char* const missing[] = {"./libnot-there.so", nullptr};
    loadExternalLibraries(missing, &handles, 1, "/tmp/");
    ASSERT_NE(handles, nullptr);
    EXPECT_EQ(handles[0], nullptr) << "a library that fails to load leaves a null handle";
    loadExternalLibraries(missing, &handles, 0, nullptr);
    EXPECT_EQ(handles, nullptr);
    loadExternalLibraries(missing, &handles, 0, nullptr);
    EXPECT_EQ(handles, nullptr);
}

TEST(ExternalLibraries, ModulePathAndUtf16) {
    EXPECT_NE(std::string(getModulePath()), "");
    uint16_t* wide = utf8ToUtf16("a\xC3\xA9\xE2\x82\xAC");
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide[0], 'a');
    EXPECT_EQ(wide[1], 0xE9);
    EXPECT_EQ(wide[2], 0x20AC);
    EXPECT_EQ(wide[3], 0);
    free(wide);
    wide = utf8ToUtf16("x\xE2\x82");
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide[1], 0) << "a cut sequence ends the conversion";
    free(wide);
}

TEST(ModelDataAccess, NullStandsForTheTemplate) {
    setEventCode(nullptr, eventCodeEndOfInitialization);
    EXPECT_EQ(getEventCode(nullptr), 4);
    EXPECT_EQ(modelDataTemplate()->eventCode, 4);
    setEventCode(nullptr, eventCodeNormal);
    DelayBuffer* buffers = nullptr;
    int count = 0;
    delayBufferList(nullptr, &buffers, &count);
    EXPECT_EQ(buffers, modelDataTemplate()->delays);
    EXPECT_EQ(count, 1);

    ThreadContext* c = bindModelData(modelDataTemplate());
    copyModelData(nullptr);
    EXPECT_EQ(c->boundModelData, modelDataTemplate()) << "a null destination leaves the binding alone";
    bindModelData(nullptr);
}

TEST(ModelDataAccess, ResetClearsEventTimesAndDelays) {
    static ModelData data;
    copyModelData(&data);
    ASSERT_EQ(delayBuffersAllocate(data.delays, 1, 100), 0);
    data.delays[0].values[3] = 7;
    data.relationValues[1] = 5;
    data.timeEventActive = 1;
    data.sampleCounters[0] = 3;
    resetModelData(&data);
    EXPECT_EQ(data.timeEventActive, 0);
    EXPECT_EQ(data.sampleCounters[0], 0);
    EXPECT_EQ(data.eventTime, -1e33);
    EXPECT_EQ(data.eventTime2, -1e33);
    EXPECT_EQ(data.heldTimeA, -1e33);
    EXPECT_EQ(data.delays[0].times, nullptr);
    EXPECT_EQ(data.delays[0].size, 0);
    EXPECT_EQ(data.relationValues[1], 0);
}

TEST(DelayBuffers, CopyReusesOrReplacesStorage) {
    DelayBuffer a[1] = {}, b[1] = {};
    ASSERT_EQ(delayBuffersAllocate(a, 1, 10), 0);
    a[0].times[0] = 1.5;
    a[0].position = 3;
    ASSERT_EQ(delayBuffersCopy(b, a, 1), 0);
    EXPECT_NE(b[0].times, a[0].times);
    EXPECT_EQ(b[0].values, b[0].times + 10);
    EXPECT_EQ(b[0].times[0], 1.5);
    EXPECT_EQ(b[0].position, 3u);
    double* storage = b[0].times;
    ASSERT_EQ(delayBuffersCopy(b, a, 1), 0);
    EXPECT_EQ(b[0].times, storage) << "equal sizes reuse the destination";
    delayBuffersFree(a, 1);
    delayBuffersFree(b, 1);
    EXPECT_EQ(a[0].times, nullptr);
}

} // namespace
