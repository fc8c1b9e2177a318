// Small runtime services: homotopy operator, timers, animation attributes,
// memory checks, records, enumerations, smooth steps and string variables.
#include <math.h>
#include <string.h>

#include <string>

#include "runtime_fixture.h"
#include "runtime_services.h"

namespace {

using Services = RuntimeTest;

TEST_F(Services, HomotopyOperatorBlendsByLambdaAndMarksUse) {
    ModelData* d = instance()->modelData;
    d->homotopyUsed = 0;
    d->lambda = 1.0;
    EXPECT_EQ(homotopyValue(3.0, 7.0, d), 3.0);
    EXPECT_EQ(d->homotopyUsed, 1);
    d->homotopyUsed = 0;
    d->lambda = 0.0;
    EXPECT_EQ(homotopyValue(3.0, 7.0, d), 7.0);
    EXPECT_EQ(d->homotopyUsed, 1);
    d->lambda = 0.25;
    EXPECT_DOUBLE_EQ(homotopyValue(3.0, 7.0, d), 6.0);

    ModelData* t = modelDataTemplate();
    const int saved = t->homotopyUsed;
    t->homotopyUsed = 0;
    EXPECT_EQ(homotopyValue(3.0, 7.0, nullptr), 3.0) << "a null ModelData is the template (lambda 1)";
    EXPECT_EQ(t->homotopyUsed, 1);
    t->homotopyUsed = saved;
}

TEST_F(Services, ClockStaysMonotonicAcrossTheWrap) {
    EXPECT_EQ(cpuClockFromReading(-1), 0.0);
    const double high = cpuClockFromReading(4294967000LL);
    const double wrapped = cpuClockFromReading(0);
    EXPECT_EQ(wrapped - high, 296.0);
    EXPECT_EQ(cpuClockFromReading(-1), 0.0) << "a failed reading changes nothing";
    EXPECT_EQ(cpuClockFromReading(5) - wrapped, 5.0);
    EXPECT_GE(cpuClock(), wrapped);

    double start = -1;
    const double absolute = elapsedTimer(&start, 0, 0, 0);
    EXPECT_EQ(start, absolute);
    const double seconds = elapsedTimer(&start, 1, 0, 0);
    EXPECT_GE(seconds, 0.0);
    EXPECT_LT(seconds, 10.0);

    const double first = globalElapsedTimer(0, 0, 0, 0);
    EXPECT_GE(first, wrapped) << "the first call gives the absolute reading";
    const double later = globalElapsedTimer(0, 0, 0, 0);
    EXPECT_GE(later, 0.0);
    EXPECT_LT(later, 10.0) << "later calls give seconds since the first";
}

TEST_F(Services, AnimationAttributes) {
    EXPECT_EQ(animationShapeCode("tyre"), 112);
    EXPECT_EQ(animationShapeCode("Box"), 200);
    EXPECT_EQ(animationShapeCode("17.stl"), 217);
    EXPECT_EQ(animationShapeCode(""), 200);

    EXPECT_EQ(animationPackMaterial(1, 1, 1, 1), 99 * 100000 + 99 * 1000 + 99 * 10 + 9);
    EXPECT_EQ(animationPackMaterial(-3, 0, 0.004, 0), 0);
    // Values no integer can hold are clamped before any conversion.
    EXPECT_EQ(animationPackMaterial(NAN, 1e300, -1e300, INFINITY), 0 * 100000 + 99 * 1000 + 0 + 9);
}

TEST_F(Services, MemoryArgumentsMustBeVectors) {
    enterModelCall();
    double cell = 4.5;
    EXPECT_EQ(getMemory(&cell, 3, 1), 4.5);
    putMemory(0, &cell, 1, 3, 9.0);
    EXPECT_EQ(cell, 4.5) << "store 0 writes nothing";
    putMemory(1, &cell, 1, 3, 9.0);
    EXPECT_EQ(cell, 9.0);

    EXPECT_EQ(runUnderTrap([&] { getMemory(&cell, 1, 1); }), 1);
    EXPECT_TRUE(host().logContains("Memory argument to getMemory must be a vector."));
    EXPECT_EQ(runUnderTrap([&] { putMemory(1, &cell, 1, 1, 2.0); }), 1);
    EXPECT_TRUE(host().logContains("Memory argument to putMemory must be a vector."));
    EXPECT_EQ(cell, 9.0);
}

TEST_F(Services, RecordArrays) {
    enterModelCall();
    int32_t dims[2] = {2, 3};
    double data[6] = {1, 2, 3, 4, 5, 6};
    RealArray a = {2, dims, data};
    IntegerArray sizes = recordArrayDims(a);
    ASSERT_EQ(sizes.ndims, 1);
    EXPECT_EQ(sizes.dims[0], 1) << "the sizes without the last dimension";
    EXPECT_EQ(sizes.data[0], 2);
    RealArray scalar = {0, dims, data};
    EXPECT_EQ(runUnderTrap([&] { recordArrayDims(scalar); }), 1);
    EXPECT_TRUE(host().logContains("  Error in record logic\n  Failed condition: b.ndims>0 && b.dims[0]>0\n"));

    int x = 1, y = 2;
    void* source[2] = {&x, &y};
    void* matrix[6] = {};
    int counter = 1;
    EXPECT_EQ(recordArrayFillColumn(matrix, 2, 3, &counter, source, 2), 3);
    EXPECT_EQ(counter, 2);
    // Column 2 of a leading dimension of 2: entries 1, 3 and 5.
    EXPECT_EQ(matrix[1], &x);
    EXPECT_EQ(matrix[3], &y);
    EXPECT_EQ(matrix[5], nullptr);
    EXPECT_EQ(matrix[0], nullptr);
}

TEST_F(Services, EnumerationTextsAndChecks) {
    enterModelCall();
    int32_t dims[1] = {2};
    const char* data[2] = {"red", "green"};
    StringArray names = {1, dims, data};
    EXPECT_STREQ(enumToString(2, 1, 7, names), "green  ");
    EXPECT_STREQ(enumToString(2, 0, 7, names), "  green");
    EXPECT_STREQ(enumToString(1, 0, 0, names), "red");
    EXPECT_STREQ(enumToString(1, 0, 39, names), (std::string(36, ' ') + "red").c_str());

    EXPECT_EQ(runUnderTrap([&] { enumToString(1, 0, 40, names); }), 1);
    EXPECT_TRUE(host().logContains("  \n  Failed condition: minwidth<40\n"));
    for (int index : {0, 3})
        EXPECT_EQ(runUnderTrap([&] { enumToString(index, 0, 0, names); }), 1) << index;
    int32_t matrixDims[2] = {1, 2};
    StringArray matrix = {2, matrixDims, data};
    EXPECT_EQ(runUnderTrap([&] { enumToString(1, 0, 0, matrix); }), 1);
    EXPECT_TRUE(host().logContains("  \n  Failed condition: names.ndims==1 && x>=1 && x<=names.dims[0]\n"));

    EXPECT_EQ(checkEnumConversion(3, 3, "bad colour"), 3);
    host().clearLog();
    EXPECT_EQ(runUnderTrap([] { checkEnumConversion(0, 3, "bad colour"); }), 1);
    EXPECT_EQ(runUnderTrap([] { checkEnumConversion(4, 3, "bad colour"); }), 1);
    EXPECT_TRUE(host().logContains("  bad colour\n  Failed condition: toConvert >= 1 && toConvert <= maxEnumValue\n"));
}

TEST(ServicesSmooth, SmoothStepAndItsDerivatives) {
    EXPECT_EQ(smoothStep(0, 1), 0.5);
    EXPECT_EQ(smoothStep(-1, 1), 0.0);
    EXPECT_EQ(smoothStep(1, 1), 1.0);
    EXPECT_EQ(smoothStep(0.3, 0), 1.0);
    EXPECT_EQ(smoothStep(-0.3, 0), 0.0);
    for (double x : {-0.7, -0.2, 0.1, 0.9}) {
        EXPECT_EQ(smoothStep(x, -2.0), smoothStep(-x, 2.0)) << x;
        const double h = 1e-6;
        // d/dt smoothStep(x + t, dx + t/2) against a central difference.
        const double numeric = (smoothStep(x + h, 2.0 + h / 2) - smoothStep(x - h, 2.0 - h / 2)) / (2 * h);
        EXPECT_NEAR(smoothStepDer(x, 2.0, 1.0, 0.5), numeric, 1e-8) << x;
        EXPECT_EQ(smoothStepDer(x, -2.0, 1.0, 0.5), smoothStepDer(-x, 2.0, -1.0, -0.5)) << x;
    }
    EXPECT_EQ(smoothStepDer(2.0, 2.0, 1.0, 0.0), 0.0);
    EXPECT_EQ(smoothStepDer(-5.0, 2.0, 1.0, 0.0), 0.0);

    // smoothDerivative is the derivative of s*a + (1-s)*b along (aDer, bDer, xDer, dxDer).
    const double a = 3, b = -1, x = 0.4, dx = 1;
    const double h = 1e-6;
    auto blend = [&](double t) {
        const double s = smoothStep(x + t * 0.5, dx + t * 0.1);
        return s * (a + t * 2.0) + (1 - s) * (b + t * -4.0);
    };
    EXPECT_NEAR(smoothDerivative(a, b, x, dx, 2.0, -4.0, 0.5, 0.1), (blend(h) - blend(-h)) / (2 * h), 1e-7);
    EXPECT_EQ(smoothDerivative(a, b, 2.0, dx, 2.0, -4.0, 0.5, 0.1), 2.0) << "fully on a";
    EXPECT_EQ(smoothDerivative(a, b, -2.0, dx, 2.0, -4.0, 0.5, 0.1), -4.0) << "fully on b";
}

TEST_F(Services, StringVariables) {
    ModelData* d = instance()->modelData;
    ModelData* other = static_cast<ModelData*>(malloc(sizeof(ModelData)));
    memcpy(other, d, sizeof(ModelData));
    stringVariablesInit(d);
    EXPECT_EQ(d->stringSlotTable[0], d->stringSlots[0]);
    EXPECT_EQ(d->stringSlotTable[1], d->stringSlots[1]);
    // A copy of the record carries a table that points at the original's slots.
    memcpy(other, d, sizeof(ModelData));
    stringVariablesInit(other);
    EXPECT_EQ(other->stringSlotTable[1], other->stringSlots[1]);
    free(other);

    enterModelCall();
    stringVariableSet(d, "SimpleAir", 0);
    EXPECT_STREQ(stringVariableGet(d, 0), "SimpleAir");
    EXPECT_TRUE(host().log.empty());

    const std::string longText = std::string(499, 'a') + "b";
    stringVariableSet(d, longText.c_str(), 1);
    EXPECT_EQ(std::string(stringVariableGet(d, 1)), std::string(499, 'a'));
    EXPECT_EQ(host().logText(), "OK|rt|Truncated string variable to\nOK|rt|" + std::string(499, 'a') + "\n");
    EXPECT_STREQ(stringVariableGet(d, 0), "SimpleAir") << "the neighbouring slot is untouched";
    host().clearLog();

    stringVariableSet(d, "x", 2);
    stringVariableSet(d, "x", -1);
    EXPECT_EQ(host().logText(), "OK|rt|Internal error in String handling.\nOK|rt|Internal error in String handling.\n");
    EXPECT_STREQ(stringVariableGet(d, 2), "");
    EXPECT_STREQ(stringVariableGet(d, -1), "");
    host().clearLog();

    int32_t dims[1] = {2};
    const char* data[2] = {"first", "second"};
    StringArray strings = {1, dims, data};
    stringArrayVariableSet(d, strings, 0);
    EXPECT_STREQ(stringVariableGet(d, 0), "first");
    EXPECT_STREQ(stringVariableGet(d, 1), "second");
    EXPECT_TRUE(host().log.empty());
    stringArrayVariableSet(d, strings, 1);
    stringArrayVariableSet(d, strings, -1);
    EXPECT_EQ(host().logText(),
              "OK|rt|Internal error in String array handling.\nOK|rt|Internal error in String array handling.\n");
    EXPECT_STREQ(stringVariableGet(d, 1), "second");
}

} // namespace
