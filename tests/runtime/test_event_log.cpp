// The event log file: when it is written, its header, detail and status
// lines, summaries, the table of relation texts and a file that cannot be
// opened.
#include <filesystem>
#include <string>

#include "relations.h"
#include "runtime_fixture.h"
#include "test_event_log_support.h"

namespace {

std::string typedMessages;
int captureTyped(int, const char* text) {
    typedMessages += text;
    return 0;
}

class EventLog : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        resetEventLog();
        typedMessages.clear();
        ASSERT_TRUE(directory_.ok());
        enterModelCall();
        instance()->flags[kFlagWord] = kFlagsLogEvents;
    }
    void TearDown() override {
        resetEventLog();
        runtimeGlobals.messageCallback = nullptr;
        RuntimeTest::TearDown();
    }
    bool fileExists() const { return directory_.exists("eventlog.txt"); }
    std::string fileText() const { return directory_.read("eventlog.txt"); }
    EventLogTable* table() const { return static_cast<EventLogTable*>(runtimeGlobals.eventLogTable); }

    ScratchDirectory directory_;
};

TEST_F(EventLog, NothingIsWrittenWithoutBitTwo) {
    for (int word : {0, (int)kFlagsLogAlways, 0x1000}) {
        instance()->flags[kFlagWord] = word;
        eventLogWrite(-1, 0.0, 4, "x >= 1", 1, 0.0);
        eventLogWrite(-2, 1.0, 1, nullptr, 0, 0.0);
        eventLogRegisterExpression(1, "x >= 1", "(x)-(1)");
        {
            int result = 0, changed = 0;
            double epsilon = 0, output = 0;
            evaluateRelation("x >= 1", "(x)-(1)", &result, &epsilon, &output, 1e-10, 1.0, 0, word, &changed,
                             nullptr, 1, 1, 0, 1e-4, 0, 1);
            EXPECT_EQ(changed, 1);
        }
    }
    EXPECT_FALSE(fileExists());
    EXPECT_EQ(runtimeGlobals.eventLogLogged, 0);
    EXPECT_EQ(table(), nullptr);
}

TEST_F(EventLog, HeaderDetailAndStatusLines) {
    eventLogWrite(-1, 0.0, 4, "a >= 1\n and\n more", 1, 0.0);
    EXPECT_EQ(fileText(), std::string(eventLogHeader()) + "0;4;a >= 1 and more;true\n")
        << "newlines are removed, nothing replaces them";

    eventLogWrite(3, 0.0, 0, nullptr, 0, 0.0);
    eventLogWrite(-1, 0.0, 4, "b", 0, 0.0);
    eventLogWrite(-1, 0.0, 4, "c", 2, 2.5);
    eventLogWrite(-1, 0.0, 4, "d", 3, 0.0);
    eventLogWrite(-1, 0.0, 4, "e", 4, 0.0);
    eventLogWrite(-1, 0.0, 4, "f", 5, 0.0);
    eventLogWrite(-1, 0.0, 4, nullptr, 1, 0.0);
    eventLogWrite(-1, 1.5, 1, nullptr, 0, 0.0);
    eventLogWrite(-1, 1.5, 1, nullptr, -1, 0.0);
    eventLogWrite(-1, 1.5, 1, "t > 2", 1, 0.0);
    eventLogWrite(-1, 1.5, 1, nullptr, 7, 0.0);
    eventLogWrite(-1, 0.0, 2, nullptr, 0, 0.0);
    eventLogWrite(-1, 0.0, 8, "s", 0, 0.0);
    eventLogWrite(-5, 0.0, 0, nullptr, 0, 0.0);
    eventLogWrite(-2, 2.0, 3, nullptr, 0, 0.0);
    // A suppressed summary with no detail since: nothing; after a detail: written.
    eventLogWrite(-6, 0.0, 0, nullptr, 0, 0.0);
    eventLogWrite(-4, 4.0, 0, nullptr, 0, 0.0);
    eventLogWrite(-1, 0.0, 4, "g", 1, 0.0);
    eventLogWrite(-6, 0.0, 0, nullptr, 0, 0.0);
    eventLogWrite(-1, 0.0, 4, "h", 0, 0.0);
    eventLogWrite(-4, 5.0, 8, nullptr, 0, 0.0);
    eventLogWrite(-3, 0.0, 0, nullptr, 0, 0.0);
    eventLogWrite(-3, 0.25, 0, nullptr, 1, 0.0);

    EXPECT_EQ(fileText(), std::string(eventLogHeader()) +
                              "0;4;a >= 1 and more;true\n"
                              "3;4;b;false\n"
                              "3;4;c;2.5\n"
                              "3;4;d; == 0\n"
                              "3;4;e; > 0\n"
                              "3;4;f; < 0\n"
                              "3;1;time >= 1.5;\n"
                              "3;1;time < 1.5;\n"
                              "3;1;t > 2;\n"
                              "3;1;Time event;\n"
                              "3;2;Input time event;\n"
                              ";8;State select;s\n"
                              ";;;;2;3;1\n"
                              ";;;;;;;Time event;\n"
                              ";;;;;;;Input time event;\n"
                              "\n"
                              "0;4;g;true\n"
                              "0;4;h;false\n"
                              ";;;;5;Termination;0\n"
                              ";;;;;;;Step event;\n"
                              "\n"
                              ";;;;0;Initialization (off);0\n"
                              "\n"
                              ";;;;0.25;Initialization;0\n"
                              "\n");
}

TEST_F(EventLog, RegistrationKeepsTheFirstTexts) {
    eventLogRegisterExpression(1, "x >= 1\n", "(x)-(1)");
    ASSERT_NE(table(), nullptr);
    EXPECT_EQ(table()->count, MODEL_NREL);
    eventLogRegisterExpression(1, "other", "other");
    eventLogRegisterExpression(0, "zero", "zero");
    eventLogRegisterExpression(3, "beyond", "beyond");
    eventLogRegisterExpression(2, nullptr, "missing");
    EXPECT_STREQ(table()->expressions[0], "x >= 1");
    EXPECT_STREQ(table()->descriptions[0], "(x)-(1)");
    EXPECT_EQ(table()->expressions[1], nullptr);
    EXPECT_EQ(table()->filled, 1);
    eventLogRegisterExpression(2, "y <= 0", "(y)-(0)");
    EXPECT_EQ(table()->filled, 2);
    EXPECT_STREQ(table()->expressions[1], "y <= 0");
    EXPECT_FALSE(fileExists()) << "registration alone opens nothing";
}

TEST_F(EventLog, RelationChangesOfTwoInstancesGoToOneFile) {
    ModelData* d = instance()->modelData;
    d->crossingScale = 1e-10;
    d->initialCall = 0;
    d->relationNominals[1] = 1.0;
    d->relationValues[1] = 0.5;
    d->relationStates[1] = 0;
    crossingFunction(d, "x >= 1", "(x)-(1)", 1, kFlagsLogEvents, 1, 1);
    EXPECT_EQ(d->relationStates[1], 1);
    EXPECT_TRUE(host().logContains("Expression x >= 1 became true ( (x)-(1) = 0.5 )"));
    EXPECT_STREQ(table()->expressions[0], "x >= 1");

    fmi2Component second = host().instantiate("second", fmi2ModelExchange, MODEL_GUID);
    ASSERT_NE(second, nullptr);
    ModelInstance* other = static_cast<ModelInstance*>(second);
    bindModelData(other->modelData);
    other->flags[kFlagWord] = kFlagsLogEvents;
    ModelData* e = other->modelData;
    e->crossingScale = 1e-10;
    e->initialCall = 0;
    e->relationNominals[2] = 1.0;
    e->relationValues[2] = 0.5;
    e->relationStates[2] = 1;
    crossingFunction(e, "y <= 0", "(y)-(0)", 2, kFlagsLogEvents, 0, 1);
    EXPECT_EQ(e->relationStates[2], 0);
    bindModelData(nullptr);
    host().api().FreeInstance(second);

    EXPECT_EQ(fileText(), std::string(eventLogHeader()) + "0;4;x >= 1;true\n0;4;y <= 0;false\n");
}

TEST_F(EventLog, FileThatCannotBeOpenedIsReportedOnce) {
    std::filesystem::create_directory(directory_.path() / "eventlog.txt");
    runtimeGlobals.messageCallback = captureTyped;
    eventLogWrite(-1, 0.0, 4, "x >= 1", 1, 0.0);
    eventLogWrite(-1, 0.0, 4, "x >= 1", 0, 0.0);
    EXPECT_EQ(typedMessages, "Could not write to file \"eventlog.txt\": Is a directory.\n");
    EXPECT_EQ(runtimeGlobals.eventLogLogged, 1);
    EXPECT_EQ(runtimeGlobals.eventLogStream, nullptr);
    ASSERT_NE(table(), nullptr);
    EXPECT_EQ(table()->linesSinceSummary, 2) << "the counters still change";
    eventLogWrite(4, 0.0, 0, nullptr, 0, 0.0);
    EXPECT_EQ(runtimeGlobals.eventLogIteration, 4);
    eventLogWrite(-2, 0.0, 0, nullptr, 0, 0.0);
    EXPECT_EQ(runtimeGlobals.eventLogIteration, 0);
    EXPECT_EQ(table()->linesSinceSummary, 0);
}

} // namespace
