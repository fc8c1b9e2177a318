// Logging to the host: the OK filter, pending text, the message cut and the
// bridge for runtime messages.
#include <string>

#include "runtime_fixture.h"

namespace {

using Logging = RuntimeTest;

TEST_F(Logging, OkMessagesOnlyWithLoggingOnAndPendingTextRidesAlong) {
    instance()->loggingOn = 0;
    logMessage(instance(), "rt", fmi2OK, "", "dropped");
    bufferMessage(instance(), "rt", fmi2Warning, "", "pending %d, ", 7);
    logMessage(instance(), "rt", fmi2OK, "", "still dropped");
    EXPECT_TRUE(host().log.empty());
    logMessage(instance(), "rt", fmi2Warning, "", "warning");
    EXPECT_EQ(host().logText(), "Warning|rt|pending 7, warning\n");
    host().clearLog();
    logMessage(instance(), "rt", fmi2Warning, "", "alone");
    EXPECT_EQ(host().logText(), "Warning|rt|alone\n") << "pending text is sent once";
}

TEST_F(Logging, PendingTextIsDroppedWholeWhenEmptyOrTooLong) {
    bufferMessage(instance(), "rt", fmi2OK, "", "kept? ");
    bufferMessage(instance(), "rt", fmi2OK, "", "%s", "");
    logMessage(instance(), "rt", fmi2OK, "", "msg");
    EXPECT_EQ(host().log.back().message, "msg");

    bufferMessage(instance(), "rt", fmi2OK, "", "%s", std::string(200, 'a').c_str());
    bufferMessage(instance(), "rt", fmi2OK, "", "%s", std::string(60, 'b').c_str());
    logMessage(instance(), "rt", fmi2OK, "", "after overflow");
    EXPECT_EQ(host().log.back().message, "after overflow");

    bufferMessage(instance(), "rt", fmi2OK, "", "%s", std::string(254, 'c').c_str());
    logMessage(instance(), "rt", fmi2OK, "", "!");
    EXPECT_EQ(host().log.back().message, std::string(254, 'c') + "!");
}

TEST_F(Logging, PercentSignsArriveUnchanged) {
    bufferMessage(instance(), "rt", fmi2OK, "", "%s", "value %d ");
    logMessage(instance(), "rt", fmi2OK, "", "%s", "and 100%");
    EXPECT_EQ(host().log.back().message, "value %d and 100%");
}

TEST_F(Logging, LongMessagesAreCutAt1023Characters) {
    bufferMessage(instance(), "rt", fmi2OK, "", "prefix ");
    logMessage(instance(), "rt", fmi2Error, "", "%s", std::string(2000, 'x').c_str());
    EXPECT_EQ(host().log.back().message, "prefix " + std::string(1023 - 7, 'x'));
}

TEST_F(Logging, RuntimeMessagesGoToTheInstanceInTheModelCall) {
    logModelMessage("outside any model call", 1, 0);
    EXPECT_TRUE(host().log.empty());
    enterModelCall();
    logModelMessage("a # sign", 1, 1);
    logModelMessage("held ", 0, 0);
    logModelMessage("error", 1, 7);
    ASSERT_EQ(host().log.size(), 2u);
    EXPECT_EQ(host().logText(), "Warning|rt|a ## sign\nError|rt|held error\n");
}

TEST_F(Logging, RuntimeTextIsCutAfter4095Characters) {
    enterModelCall();
    std::string text(4094, 'y');
    text += "#z";
    instance()->loggingOn = 1;
    logModelMessage(text.c_str(), 1, 2);
    // The logger's own 1023-character cut applies after the bridge's.
    EXPECT_EQ(host().log.back().message.size(), 1023u);
    // The bridge's cut: the doubled '#' and what follows no longer fit.
    char bridged[4096];
    EXPECT_EQ(copyRuntimeText(text.c_str(), bridged, sizeof bridged), 4095u);
    EXPECT_EQ(std::string(bridged), std::string(4094, 'y') + "#");
    EXPECT_EQ(copyRuntimeText(std::string(5000, '#').c_str(), bridged, sizeof bridged), 4095u);
}

TEST_F(Logging, FreedInstanceBlocksAreNeverReadAgain) {
    // A second instance becomes the last instantiated one, then goes away.
    fmi2Component second = host().instantiate("second", fmi2ModelExchange, MODEL_GUID);
    ASSERT_NE(second, nullptr);
    host()->FreeInstance(second);
    EXPECT_EQ(getModelFlags(), nullptr);
    EXPECT_EQ(getModelTimeData(), nullptr);
    host().clearLog();
    // The first instance reports through its own blocks: its quiet bit holds.
    enterModelCall();
    instance()->flags[kFlagWord] = kFlagsQuiet;
    reportAtTime("quiet warning", 1);
    EXPECT_TRUE(host().log.empty());
    instance()->flags[kFlagWord] = 0;
    reportAtTime("loud warning", 1);
    EXPECT_TRUE(host().logContains("loud warning"));
}

} // namespace
