// Runtime messages, warnings and errors with the time and the stack of
// generated functions.
#include <string>
#include <vector>

#include "runtime_fixture.h"

namespace {

using Messages = RuntimeTest;

TEST_F(Messages, WarningReturnsAndErrorUnwindsWithTimeAndStack) {
    enterModelCall();
    instance()->modelData->time = 1.25;
    instance()->modelData->statusWord = 0;
    reportAtTime("a warning", 1);
    EXPECT_EQ(instance()->modelData->statusWord, 0);
    EXPECT_EQ(host().logText(), "Warning|rt|Warning: The following was detected at time: 1.25\nWarning|rt|a warning\n");
    host().clearLog();

    int result = runUnderTrap([] {
        FunctionFrame f1, f2;
        pushFunctionFrame(&f1, "Outer.function");
        pushFunctionFrame(&f2, "Inner.function");
        runtimeError("went wrong");
        ADD_FAILURE() << "no code after a runtime error runs";
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(instance()->modelData->statusWord, 1);
    EXPECT_EQ(host().logText(),
              "Error|rt|Error: The following error was detected at time: 1.25\nError|rt|went wrong\n"
              "Error|rt|The stack of functions is:\nError|rt|Inner.function\nError|rt|Outer.function\n");
    EXPECT_EQ(getThreadContext()->functionStack, nullptr);
}

TEST_F(Messages, QuietBitSilencesButStillFails) {
    enterModelCall();
    instance()->flags[kFlagWord] = kFlagsQuiet;
    EXPECT_EQ(runUnderTrap([] { RuntimeAssert(0, "x>0", "x must be positive"); }), 1);
    EXPECT_TRUE(host().log.empty());
}

TEST_F(Messages, AssertionTexts) {
    enterModelCall();
    RuntimeAssert(1, "never", "shown");
    EXPECT_TRUE(host().log.empty());
    EXPECT_EQ(runUnderTrap([] { RuntimeAssert(0, "a==b", "Array dimensions did not match"); }), 1);
    EXPECT_TRUE(host().logContains("  Array dimensions did not match\n  Failed condition: a==b\n"));
    host().clearLog();

    int once = 0;
    assertFailed(0, "T<400", "too hot", 1, &once);
    assertFailed(0, "T<400", "too hot", 1, &once);
    int warnings = 0;
    for (const LogRecord& r : host().log) warnings += r.message == "  too hot\n  Failed condition: T<400\n";
    EXPECT_EQ(warnings, 1) << "a once flag reports only the first failure";
    EXPECT_EQ(runUnderTrap([] { assertFailed(0, "c", "fatal", 2, nullptr); }), 1);
}

TEST_F(Messages, DivisionByZeroAndSingularSystems) {
    enterModelCall();
    EXPECT_EQ(runUnderTrap([] { divisionByZero("a", 1.5, "b", 0.0); }), 1);
    EXPECT_TRUE(host().logContains("\nModel error - division by zero: (a) / (b) = (1.5) / (0)\n"));
    host().clearLog();
    singularScalarSystem("x", "n", "d", 1.0, 0.0, 1);
    EXPECT_EQ(host().log.back().message,
              "Error: Scalar system is always singular, it may be possible to evaluate parameters to avoid this, "
              "for x = (n)/(d) = 1/0");
    EXPECT_EQ(runUnderTrap([] { singularScalarSystem("x", "n", "d", 1.0, 0.0, 2); }), 1);
    singularScalarMinNorm("y", 0.5);
    EXPECT_EQ(host().log.back().message, "Singular scalar system. Using minimum norm solution for y = 0.5\n");
}

TEST_F(Messages, TerminateReportsOnce) {
    enterModelCall();
    instance()->modelData->statusWord = 0;
    terminate("done");
    EXPECT_EQ(instance()->modelData->statusWord, -999);
    EXPECT_EQ(host().logText(), "OK|rt|Simulation successfully terminated\nOK|rt|done\n");
    terminate("again");
    EXPECT_EQ(host().log.size(), 2u);
    setAbortStatus();
    EXPECT_EQ(instance()->modelData->statusWord, -998);
}

TEST_F(Messages, FormattedMessages) {
    enterModelCall();
    runtimeMessageInteger("count", 3);
    runtimeMessageMatrixElement("A", 1, 2, 0.5);
    const double v[3] = {1, 2.5, -3};
    runtimeMessageVector("v", v, 3);
    EXPECT_EQ(host().logText(), "OK|rt|count 3\nOK|rt|  A[1, 2] = 0.5\nOK|rt|v = {1, 2.5, -3}\n");
    host().clearLog();
    std::vector<double> many(1000, 1.0 / 3.0);
    runtimeMessageVector("long", many.data(), 1000);
    ASSERT_EQ(host().log.size(), 1u);
    EXPECT_LT(host().log[0].message.size(), 2000u);
    host().clearLog();
    const double m[4] = {1, 2, 3, 4}; // column-major 2x2
    printMatrix("M", m, 2, 2, 2);
    EXPECT_EQ(host().logText(), "OK|rt|M = {\nOK|rt|\nOK|rt|{1, 3}, \nOK|rt|{2, 4}\nOK|rt|\nOK|rt|};\n");
}

TEST_F(Messages, UnitWritersTrimAndBound) {
    enterModelCall();
    int value = 42;
    messageInteger(0, "rank   ", &value, 7);
    double real = 2.5;
    messageReal(0, "time = ", &real, 7);
    messageText(0, "   ", 3);
    messageText(0, "cut here", 3);
    messageIntegerDefault("n", &value, 0);
    EXPECT_EQ(host().logText(), "OK|rt|rank 42\nOK|rt|time = 2.5\nOK|rt| \nOK|rt|cut\nOK|rt| 42\n");
}

TEST_F(Messages, TypedSinkWritesToCallback) {
    static std::string captured;
    captured.clear();
    runtimeGlobals.messageCallback = [](int type, const char* text) {
        captured += std::to_string(type) + ":" + text;
        return 0;
    };
    int type = 1;
    outputMessageText(&type, "abc", 2);
    runtimeGlobals.messageCallback = nullptr;
    EXPECT_EQ(captured, "1:\n... Warning message from ?????\n1:ab\n1:\n");
}

} // namespace
