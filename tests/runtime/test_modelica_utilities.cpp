// The external-function interface (pending messages, warnings, errors,
// string allocation) and the string functions of the Modelica utilities.
#include <limits.h>
#include <math.h>
#include <string.h>

#include <string>

#include "external_utilities.h"
#include "test_arrays_support.h"
#include "utility_functions.h"

namespace {

using ExternalInterface = ArrayTest;
using UtilityStrings = ArrayTest;

TEST_F(ExternalInterface, MessagesAndWarningsWaitForTheNextLoggedMessage) {
    ModelicaMessage("one #1 ");
    ModelicaFormatMessage("two %d ", 2);
    ModelicaWarning("careful");
    EXPECT_TRUE(host().log.empty()) << "nothing is logged on its own";
    runtimeMessage("next");
    ASSERT_EQ(host().log.size(), 1u);
    EXPECT_EQ(host().log[0].status, fmi2OK);
    EXPECT_EQ(host().log[0].message, "one ##1 two 2 Warning: careful\nnext");
}

TEST_F(ExternalInterface, ErrorsUnwindWithTheirText) {
    EXPECT_EQ(failure([] { ModelicaFormatError("%s=%d", "x", 3); }), "x=3");
    EXPECT_EQ(instance()->modelData->statusWord, 1);
    EXPECT_EQ(failure([] { ModelicaError("plain"); }), "plain");
    // An overlong text is cut, never written past a buffer; the host's line is bounded again.
    const std::string text(5000, 'e');
    EXPECT_EQ(failure([&] { ModelicaFormatError("%s", text.c_str()); }), text.substr(0, 1023));
}

TEST_F(ExternalInterface, AllocatedStringsAndAFullBuffer) {
    createThreadBuffers();
    ThreadContext* c = getThreadContext();
    char* mark = c->stringmark;
    char* s = ModelicaAllocateString(0);
    EXPECT_STREQ(s, "");
    EXPECT_EQ(c->stringmark, mark + 1);
    const size_t room = static_cast<size_t>(c->Endsimplestring - c->stringmark);
    mark = c->stringmark;
    EXPECT_EQ(ModelicaAllocateStringWithErrorReturn(room - 1), nullptr);
    EXPECT_EQ(ModelicaAllocateStringWithErrorReturn(SIZE_MAX), nullptr);
    EXPECT_EQ(c->stringmark, mark);
    EXPECT_NE(ModelicaAllocateStringWithErrorReturn(room - 2), nullptr);
    ResetMarks();
    // A length that narrows to a small int must not pass as one that fits.
    EXPECT_EQ(failure([] { ModelicaAllocateString((size_t{1} << 32) + 5); }),
              "stringmark+len+1<Endsimplestring | Room to allocate string");
}

TEST_F(UtilityStrings, Substring) {
    EXPECT_STREQ(ModelicaStrings_substring("abcde", 2, 4), "bcd");
    EXPECT_STREQ(ModelicaStrings_substring("abcde", 3, -999), "c");
    EXPECT_STREQ(ModelicaStrings_substring("abcde", 6, -999), "");
    EXPECT_EQ(failure([] { ModelicaStrings_substring("abcde", 0, 1); }),
              "Wrong call of Utilities.Strings.substring:\n  startIndex = 0 (has to be > 0).\n  string     = \"abcde\"\n");
    EXPECT_EQ(failure([] { ModelicaStrings_substring("abcde", 4, 2); }),
              "Wrong call of  Utilities.Strings.substring:\n  startIndex = 4\n  endIndex   = 2 (>= startIndex "
              "required)\n  string     = \"abcde\"\n");
    EXPECT_EQ(failure([] { ModelicaStrings_substring("abcde", 2, 9); }),
              "Wrong call of Utilities.Strings.substring:\n  endIndex = 9 (<= 5 required (=length(string)).\n"
              "  string   = \"abcde\"\n");
    EXPECT_EQ(failure([] { ModelicaStrings_substring("abcde", 7, -999); }),
              "Wrong call of Utilities.Strings.substring:\n  endIndex = 7 (<= 5 required (=length(string)).\n"
              "  string   = \"abcde\"\n");
}

TEST_F(UtilityStrings, CompareLengthAndWhiteSpace) {
    EXPECT_EQ(ModelicaStrings_compare("abc", "abd", 1), 1);
    EXPECT_EQ(ModelicaStrings_compare("ABC", "abc", 0), 2);
    EXPECT_EQ(ModelicaStrings_compare("ABC", "abc", 1), 1);
    EXPECT_EQ(ModelicaStrings_compare("b", "A", 0), 3);
    EXPECT_EQ(ModelicaStrings_compare(nullptr, "x", 1), 2);
    EXPECT_EQ(ModelicaStrings_length("abc"), 3);
    EXPECT_EQ(ModelicaStrings_skipWhiteSpace("  \tx", 1), 4);
    EXPECT_EQ(ModelicaStrings_skipWhiteSpace("ab  ", 3), 5) << "the index of the terminator when only blanks follow";
    EXPECT_NE(failure([] { ModelicaStrings_skipWhiteSpace("ab", 4); }), "");
    EXPECT_NE(failure([] { ModelicaStrings_skipWhiteSpace("ab", 0); }), "");
    EXPECT_EQ(digitRunLength("a123b", 2), 3);
    EXPECT_EQ(digitRunLength("12", 9), 0);
}

TEST_F(UtilityStrings, ScanInteger) {
    struct Case {
        const char* text;
        int start;
        int unsignedNumber;
        int next;
        int number;
    };
    const Case cases[] = {
        {"12.5", 1, 0, 1, 0},          {"   -7x", 1, 0, 6, -7},       {"   -7x", 1, 1, 1, 0},
        {"42", 1, 1, 3, 42},           {"1e3", 1, 0, 1, 0},           {"+", 1, 0, 1, 0},
        {"2147483647", 1, 0, 11, INT_MAX}, {"-2147483648", 1, 0, 12, INT_MIN},
        {"2147483648", 1, 0, 1, 0},    {"-2147483649", 1, 0, 1, 0},   {"99999999999999999999", 1, 0, 1, 0},
        {"ab 5", 3, 0, 5, 5},          {"5", 0, 0, 0, 0},             {"5", 3, 0, 3, 0},
    };
    for (const Case& c : cases) {
        int next = -1, number = -1;
        ModelicaStrings_scanInteger(c.text, c.start, c.unsignedNumber, &next, &number);
        EXPECT_EQ(next, c.next) << c.text;
        EXPECT_EQ(number, c.number) << c.text;
    }
    const ScanIntegerResult r = ModelicaStrings_scanIntegerResult(" 8;", 1, 0);
    EXPECT_EQ(r.nextIndex, 3);
    EXPECT_EQ(r.number, 8);
}

TEST_F(UtilityStrings, ScanReal) {
    struct Case {
        const char* text;
        int unsignedNumber;
        int next;
        double number;
    };
    const Case cases[] = {
        {"1e5", 0, 4, 1e5},      {"1e", 0, 1, 0},       {".5", 0, 3, 0.5},     {"-", 0, 1, 0},
        {".", 0, 1, 0},          {"-2.5E-3x", 0, 8, -2.5e-3}, {"-1", 1, 1, 0}, {" 3.", 0, 4, 3.0},
        {"1.7976931348623157e308", 0, 23, 1.7976931348623157e308},
        {"4.9e-324", 0, 9, 4.9e-324},
        {"1e999", 0, 6, HUGE_VAL},
    };
    for (const Case& c : cases) {
        int next = -1;
        double number = -1;
        ModelicaStrings_scanReal(c.text, 1, c.unsignedNumber, &next, &number);
        EXPECT_EQ(next, c.next) << c.text;
        EXPECT_EQ(number, c.number) << c.text;
    }
    EXPECT_EQ(ModelicaStrings_scanRealResult("x", 9, 0).nextIndex, 9) << "a start past the end is no match";
}

TEST_F(UtilityStrings, ScanStringAndIdentifier) {
    int next = 0;
    const char* s = nullptr;
    ModelicaStrings_scanString(R"( "a\"b" z)", 1, &next, &s);
    EXPECT_STREQ(s, R"(a\"b)");
    EXPECT_EQ(next, 8);
    ModelicaStrings_scanString(R"("")", 1, &next, &s);
    EXPECT_STREQ(s, "");
    EXPECT_EQ(next, 1);
    ModelicaStrings_scanString(R"("open)", 1, &next, &s);
    EXPECT_EQ(next, 1);

    const ScanIdentifierResult id = ModelicaStrings_scanIdentifierResult("  x_1+y", 1);
    EXPECT_STREQ(id.identifier, "x_1");
    EXPECT_EQ(id.nextIndex, 6);
    const ScanIdentifierResult none = ModelicaStrings_scanIdentifierResult(" 1x", 1);
    EXPECT_STREQ(none.identifier, "");
    EXPECT_EQ(none.nextIndex, 1);
    // Bytes above 127 are classified as unsigned values.
    EXPECT_EQ(ModelicaStrings_scanIdentifierResult("\xe9", 1).nextIndex, 1);
}

TEST_F(UtilityStrings, HashStringIsTheJenkinsHash) {
    // Values worked out from the hash's definition.
    const std::pair<const char*, int> cases[] = {
        {"", 249677994},           {"a", -79111997},         {"abc", -1106035018},
        {"Modelica", 899934690},   {"hello world!", 1949561466}, {"The quick brown fox jumps", -1877924332},
        {"\xe9t\xe9", -372395420},
    };
    for (const auto& c : cases) EXPECT_EQ(ModelicaStrings_hashString(c.first), c.second) << c.first;
}

} // namespace
