// Simple strings and the conversions of the String operator: the buffer
// limit, justification and widths, the model-given format, the copy into the
// persistent string area, and formatting in a decimal-comma locale.
#include <locale.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "persistent_pool.h"
#include "runtime_services.h"
#include "test_arrays_support.h"

namespace {

class SimpleStrings : public ArrayTest {
protected:
    void SetUp() override {
        ArrayTest::SetUp();
        createThreadBuffers();
        savedArea_ = startstringmarkNon;
    }
    void TearDown() override {
        startstringmarkNon = savedArea_;
        ArrayTest::TearDown();
    }
    char* savedArea_ = nullptr;
};

TEST_F(SimpleStrings, ConversionsJustifyAndPad) {
    EXPECT_STREQ(RealToStringDefault(0.1, 0, 0), "0.1");
    EXPECT_STREQ(RealToStringDefault(1234567.0, 0, 0), "1.23457e+06");
    EXPECT_STREQ(RealToStringJustified(3.14159, 0, 8, 3), "    3.14");
    EXPECT_STREQ(RealToStringJustified(3.14159, 1, 8, 3), "3.14    ");
    EXPECT_STREQ(RealToString(2.5, 0, 2), "2.5");
    EXPECT_STREQ(IntegerToString(7, 5, 3), "  007");
    EXPECT_STREQ(IntegerToStringJustified(42, 1, 5), "42   ");
    EXPECT_STREQ(IntegerToStringJustified(-42, 0, 5), "  -42");
    EXPECT_STREQ(BooleanToString(1, 0, 6), "  true");
    EXPECT_STREQ(BooleanToString(0, 0, 0), "false");
    EXPECT_STREQ(BooleanToString(2, 1, 6), "true  ");

    ThreadContext* c = getThreadContext();
    char* mark = c->stringmark;
    char* s = RealToStringDefault(0.1, 0, 0);
    EXPECT_EQ(s, mark);
    EXPECT_EQ(c->stringmark, mark + 4) << "a result takes exactly its length and the terminator";
}

TEST_F(SimpleStrings, WidthAndPrecisionLimits) {
    EXPECT_EQ(failure([] { RealToString(1, 40, 3); }), "precision<40 && minwidth<40 | ");
    EXPECT_EQ(failure([] { RealToStringJustified(1, 0, 3, 40); }), "precision<40 && minwidth<40 | ");
    EXPECT_EQ(failure([] { IntegerToString(1, 3, 40); }), "precision<40 && minwidth<40 | ");
    EXPECT_EQ(failure([] { IntegerToStringJustified(1, 0, 40); }), "minwidth<40 | ");
    EXPECT_EQ(failure([] { BooleanToString(1, 0, 40); }), "minwidth<40 | ");
    EXPECT_EQ(strlen(RealToString(1, 39, 3)), 39u);
    EXPECT_EQ(strlen(IntegerToString(1, 3, 39)), 39u);
    EXPECT_EQ(strlen(BooleanToString(0, 1, 39)), 39u);
    // A negative width left-justifies in a field of its magnitude; only what
    // does not fit the 111 characters of the conversion buffer is cut.
    EXPECT_STREQ(RealToString(1, -4, 3), "1   ");
    EXPECT_EQ(std::string(RealToString(1, -50, 3)), "1" + std::string(49, ' '));
    EXPECT_EQ(std::string(RealToString(1, -1000000, 3)), "1" + std::string(110, ' '));
    EXPECT_EQ(strlen(IntegerToStringJustified(5, 0, INT32_MIN)), 111u);
    EXPECT_EQ(strlen(BooleanToString(1, 1, -50)), 50u);
    EXPECT_EQ(strlen(RealToStringJustified(-1.2345678901234567e-300, 0, -39, 39)), 46u);
}

TEST_F(SimpleStrings, AllocationNeverHandsOutTheLastByte) {
    ThreadContext* c = getThreadContext();
    const int room = static_cast<int>(c->Endsimplestring - c->stringmark);
    char* mark = c->stringmark;
    EXPECT_EQ(failure([&] { SimpleStringAlloc(room - 1); }), "stringmark+len+1<Endsimplestring | Room to allocate string");
    EXPECT_EQ(c->stringmark, mark);
    EXPECT_EQ(failure([] { SimpleStringAlloc(-1); }), "len>=0 | String length must not be negative");
    EXPECT_EQ(failure([] { SimpleStringAlloc(INT32_MAX); }), "stringmark+len+1<Endsimplestring | Room to allocate string");
    EXPECT_EQ(SimpleStringAlloc(room - 2), mark);
    EXPECT_EQ(c->stringmark, c->Endsimplestring - 1);
    EXPECT_EQ(failure([] { SimpleStringAlloc(0); }), "stringmark+len+1<Endsimplestring | Room to allocate string");
    EXPECT_EQ(failure([] { RealToStringDefault(1, 0, 0); }), "stringmark+len+1<Endsimplestring | Room to allocate string");

    SetStringMark(mark);
    char* joined = SimpleStringConcat("ab", "cde");
    EXPECT_STREQ(joined, "abcde");
    EXPECT_EQ(c->stringmark, mark + 6);
    EXPECT_STREQ(SimpleStringConcat("", nullptr), "");
}

TEST_F(SimpleStrings, FormatGivenByTheModel) {
    ThreadContext* c = getThreadContext();
    char* mark = c->stringmark;
    EXPECT_STREQ(RealToStringFormat(3.14159, "10.3f"), "     3.142");
    EXPECT_EQ(c->stringmark, mark + strlen("10.3f") + 2 + 11) << "the full format stays allocated";
    EXPECT_STREQ(RealToStringFormat(3.14159, ".2e"), "3.14e+00");
    EXPECT_STREQ(RealToStringFormat(3.14159, "-8.1f"), "3.1     ");
    EXPECT_STREQ(RealToStringFormat(0.5, "+g"), "+0.5");
    EXPECT_STREQ(RealToStringFormat(0.5, ".200g"), "0.5");
    EXPECT_EQ(std::string(RealToStringFormat(1, "99.0f")), std::string(98, ' ') + "1");
    EXPECT_EQ(failure([] { RealToStringFormat(1, "100.0f"); }), "buf[99]=='\\0' | ");
    EXPECT_EQ(failure([] { RealToStringFormat(1e300, "f"); }), "buf[99]=='\\0' | ");
    for (const char* bad : {"d", "s", "10.3f%n", "%f", "*f", ".*f", "10.3fx", "", "1000f", ".1000g", "Lf", "'f", "n"})
        EXPECT_EQ(failure([&] { RealToStringFormat(1, bad); }),
                  "isRealConversion(format) | The format of String must be a single Real conversion such as 10.3f")
            << bad;
    EXPECT_EQ(failure([] { RealToStringFormat(1, nullptr); }),
              "isRealConversion(format) | The format of String must be a single Real conversion such as 10.3f");
}

// Outside an evaluation no trap catches a failed check: it is logged and the
// conversion returns null, neither formatting with a refused format nor
// copying into a full buffer.
TEST_F(SimpleStrings, OutsideATrapARefusalGivesNull) {
    ASSERT_FALSE(trapArmed());
    ThreadContext* c = getThreadContext();
    char* mark = c->stringmark;
    for (const char* bad : {"d", "1000f", static_cast<const char*>(nullptr)}) {
        host().clearLog();
        EXPECT_EQ(RealToStringFormat(1, bad), nullptr) << (bad ? bad : "null");
        EXPECT_EQ(loggedFailure(),
                  "isRealConversion(format) | The format of String must be a single Real conversion such as 10.3f");
        EXPECT_EQ(c->stringmark, mark) << "nothing allocated for a refused format";
    }
    EXPECT_EQ(SimpleStringAlloc(-1), nullptr);
    EXPECT_EQ(c->stringmark, mark);
    EXPECT_STREQ(RealToStringFormat(2.5, ".1f"), "2.5");

    SimpleStringAlloc(static_cast<int>(c->Endsimplestring - c->stringmark) - 2); // only the last byte is left
    int32_t dims[1] = {1};
    const char* names[1] = {"red"};
    EXPECT_EQ(enumToString(1, 0, 0, StringArray{1, dims, names}), nullptr);
    host().clearLog();
    EXPECT_EQ(RealToStringDefault(1, 0, 0), nullptr);
    EXPECT_EQ(loggedFailure(), "stringmark+len+1<Endsimplestring | Room to allocate string");
    EXPECT_EQ(c->stringmark, c->Endsimplestring - 1);
    SetStringMark(mark);
}

TEST_F(SimpleStrings, CopiesIntoThePersistentArea) {
    const char* literal = "literal";
    EXPECT_EQ(SimpleStringToNon(literal), literal);
    EXPECT_EQ(SimpleStringToNon(nullptr), nullptr);
    char* area = startstringmarkNon;
    char* simple = SimpleStringConcat("kept", "");
    const char* kept = SimpleStringToNon(simple);
    EXPECT_NE(kept, simple);
    EXPECT_STREQ(kept, "kept");
    EXPECT_EQ(kept, area);
    EXPECT_EQ(startstringmarkNon, area + 5);
    ResetMarks();
    SimpleStringConcat("overwritten", "");
    EXPECT_STREQ(kept, "kept") << "the copy outlives the simple-string buffer's marks";

    StringArray a = StringVectorOfElements(2, SimpleStringConcat("x", ""), literal);
    StringArray view = a;
    StringArrayToNon(a);
    EXPECT_EQ(view.data[0], startstringmarkNon - 2) << "the element vector itself is updated";
    EXPECT_STREQ(view.data[0], "x");
    EXPECT_EQ(view.data[1], literal);

    startstringmarkNon = EndstringmarkNon - 3;
    char* two = SimpleStringConcat("ab", "");
    EXPECT_EQ(failure([&] { SimpleStringToNon(two); }),
              "startstringmarkNon+len+1<EndstringmarkNon | Room to allocate string");
    EXPECT_EQ(startstringmarkNon, EndstringmarkNon - 3);
    EXPECT_STREQ(SimpleStringToNon(SimpleStringConcat("a", "")), "a");
    EXPECT_EQ(startstringmarkNon, EndstringmarkNon - 1);
}

// Switches LC_NUMERIC to a locale with a decimal comma for the life of the
// object: an installed one, else one built into a private directory.
class DecimalCommaLocale {
public:
    DecimalCommaLocale() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
            if (setlocale(LC_NUMERIC, name) && isComma()) return;
        char pattern[] = "/tmp/decimal_comma_XXXXXX";
        if (!mkdtemp(pattern)) return;
        directory_ = pattern;
        std::string command = "localedef -i de_DE -f UTF-8 " + directory_ + "/de_DE.UTF-8 >/dev/null 2>&1";
        if (system(command.c_str()) == -1) return;
        setenv("LOCPATH", directory_.c_str(), 1);
        if (!setlocale(LC_NUMERIC, "de_DE.UTF-8") || !isComma()) setlocale(LC_NUMERIC, "C");
    }
    ~DecimalCommaLocale() {
        setlocale(LC_NUMERIC, "C");
        if (!directory_.empty()) {
            unsetenv("LOCPATH");
            std::string command = "rm -rf " + directory_;
            if (system(command.c_str()) == -1) ADD_FAILURE() << "could not remove " << directory_;
        }
    }
    static bool isComma() { return strcmp(localeconv()->decimal_point, ",") == 0; }

private:
    std::string directory_;
};

TEST_F(SimpleStrings, ConversionsFollowTheProcessLocale) {
    DecimalCommaLocale locale;
    if (!DecimalCommaLocale::isComma()) GTEST_SKIP() << "no decimal-comma locale can be had on this machine";
    EXPECT_STREQ(RealToStringDefault(1.5, 0, 0), "1,5");
    EXPECT_STREQ(RealToStringJustified(3.14159, 0, 8, 3), "    3,14");
    EXPECT_STREQ(RealToStringFormat(2.25, "5.2f"), " 2,25");
    EXPECT_STREQ(IntegerToString(1234567, 0, 1), "1234567");
}

} // namespace
