// Exact bytes and texts written by the matrix file writer, and the misuses it
// refuses.
#include "amat_test_util.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <functional>

using namespace amat_test;

namespace {

std::string writeOne(const std::string& path, FileFormat format, AmatBinStruct layout, const AmatMatrix& m,
                     const char* comment = nullptr, const char* const* rowNames = nullptr, int indent = 0) {
    AmatPutFile f;
    EXPECT_EQ(amatPutOpen(path.c_str(), format, layout, "", nullptr, nullptr, &f), 0) << amatMessage;
    EXPECT_EQ(amatPutMatrixComment(&f, &m, comment, rowNames, indent), 0) << amatMessage;
    EXPECT_EQ(amatPutClose(&f), 0) << amatMessage;
    return readFile(path);
}

const char* abRows[] = {"ab", "", "abcd"};

} // namespace

TEST(AmatWriteBinary, CharMatrixInBothLayouts) {
    AmatMatrix m = view("t", 3, 0, charMatrix, abRows);
    EXPECT_EQ(writeOne(tempPath("n.mat"), amatBinaryFormat, binNormal, m),
              header(51, 3, 4, 0, "t") + std::string("a\0ab b\0 c  d", 12));
    EXPECT_EQ(writeOne(tempPath("t.mat"), amatBinaryFormat, binTrans, m),
              header(51, 4, 3, 0, "t") + "ab      abcd");
}

TEST(AmatWriteBinary, NumericLayoutsAndTypeWords) {
    const double d[6] = {1, 4, 2, 5, 3, 6};  // 2 x 3, rows {1,2,3} and {4,5,6}
    std::string trans = writeOne(tempPath("d.mat"), amatBinaryFormat, binTrans, view("d", 2, 3, doubleMatrix, d));
    const double rowOrder[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(trans, header(0, 3, 2, 0, "d") + std::string(reinterpret_cast<const char*>(rowOrder), 48));
    const int32_t i[2] = {7, -8};
    EXPECT_EQ(writeOne(tempPath("i.mat"), amatBinaryFormat, binNormal, view("i", 1, 2, integerMatrix, i)),
              header(20, 1, 2, 0, "i") + std::string(reinterpret_cast<const char*>(i), 8));
    float r0[2] = {1.5f, 2.5f};
    float* rows[1] = {r0};
    EXPECT_EQ(writeOne(tempPath("r.mat"), amatBinaryFormat, binNormal, view("r", 1, 2, realRowMatrix, rows)),
              header(10, 1, 2, 0, "r") + std::string(reinterpret_cast<const char*>(r0), 8));
}

TEST(AmatWriteBinary, ClassMatrixIsNormalWithLayoutRow) {
    std::string path = tempPath("c.mat");
    AmatPutFile f;
    ASSERT_EQ(amatPutOpen(path.c_str(), amatBinaryFormat, binTrans, "Atrajectory", "1.1", nullptr, &f), 0);
    const int32_t v[2] = {1, 2};
    AmatMatrix m = view("v", 2, 1, integerMatrix, v);
    ASSERT_EQ(amatPutMatrix(&f, &m), 0);
    ASSERT_EQ(amatPutClose(&f), 0);
    // Rows "Atrajectory", "1.1", " ", "binTrans" column by column, width 11.
    const char* rows[] = {"Atrajectory", "1.1", " ", "binTrans"};
    std::string cls;
    for (int p = 0; p < 11; ++p)
        for (const char* r : rows) {
            int n = static_cast<int>(strlen(r));
            cls += p < n ? r[p] : p == n ? '\0' : ' ';
        }
    EXPECT_EQ(readFile(path), header(51, 4, 11, 0, "Aclass") + cls + header(20, 1, 2, 0, "v") +
                                  std::string(reinterpret_cast<const char*>(v), 8));
}

TEST(AmatWriteText, NumberLayouts) {
    struct Case {
        const char* what;
        AmatMatrix m;
        const char* text;
    };
    const int32_t ints[4] = {1, 300, -20, 4};
    const float floats[2] = {2.0f, 2.5f};
    double nine[9];
    for (int k = 0; k < 9; ++k) nine[k] = k + 0.5;
    const double cols[4] = {12345678, 1, 42, -3};  // 2 x 2; column 0 not an integer column
    Case cases[] = {
        {"int", view("i", 2, 2, integerMatrix, ints), "int i(2,2)\n    1  -20\n  300    4\n\n"},
        {"float", view("f", 1, 2, realMatrix, floats), "float f(1,2)\n       2         2.5000000E+00\n\n"},
        {"double break", view("d", 1, 9, doubleMatrix, nine),
         "double d(1,9)\n  5.0000000000000000E-01  1.5000000000000000E+00  2.5000000000000000E+00\n"
         "  3.5000000000000000E+00  4.5000000000000000E+00  5.5000000000000000E+00\n"
         "  6.5000000000000000E+00  7.5000000000000000E+00  8.5000000000000000E+00\n\n"},
        {"double columns", view("c", 2, 2, doubleMatrix, cols),
         "double c(2,2)\n  1.2345678000000000E+07  42\n       1                  -3\n\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(writeOne(tempPath(std::string(c.what) + ".txt"), amatTextFormat, binNormal, c.m), std::string("#1\n") + c.text)
            << c.what;
}

TEST(AmatWriteText, CommentRowNamesAndEscapedRows) {
    const int32_t v[2] = {5, 6};
    const char* names[] = {"x", "y"};
    EXPECT_EQ(writeOne(tempPath("n.txt"), amatTextFormat, binNormal, view("v", 2, 1, integerMatrix, v), "# two", names, 4),
              "#1\n# two\nint v(2,1)\n 5   # x\n 6   # y\n\n");
    // Width is the larger of the column count and the longest row.
    const char* rows[] = {"a\\b", "c\nd", nullptr};
    EXPECT_EQ(writeOne(tempPath("c.txt"), amatTextFormat, binNormal, view("s", 3, 6, charMatrix, rows)),
              "#1\nchar s(3,6)\na\\\\b\nc\\nd\n\n\n");
    EXPECT_EQ(writeOne(tempPath("w.txt"), amatTextFormat, binNormal, view("s", 3, 1, charMatrix, rows)),
              "#1\nchar s(3,3)\na\\\\b\nc\\nd\n\n\n");
}

TEST(AmatWriteRows, HeaderAndDeclarationFollowEachRow) {
    const float row[3] = {1.0f, 2.0f, 3.0f};
    for (FileFormat format : {amatBinaryFormat, amatTextFormat}) {
        std::string path = tempPath(format == amatBinaryFormat ? "r.mat" : "r.txt");
        AmatPutFile f;
        ASSERT_EQ(amatPutOpen(path.c_str(), format, binTrans, "", nullptr, nullptr, &f), 0);
        ASSERT_EQ(amatPutRinit(&f, "x", 3, realMatrix), 0) << amatMessage;
        std::string empty = readFile(path);
        ASSERT_EQ(amatPutRrow(&f, row), 0) << amatMessage;
        ASSERT_EQ(amatPutRrow(&f, row), 0) << amatMessage;
        std::string two = readFile(path);
        ASSERT_EQ(amatPutRclose(&f), 0) << amatMessage;
        ASSERT_EQ(amatPutClose(&f), 0);
        if (format == amatBinaryFormat) {
            std::string data(reinterpret_cast<const char*>(row), 12);
            EXPECT_EQ(empty, header(10, 3, 0, 0, "x"));
            EXPECT_EQ(two, header(10, 3, 2, 0, "x") + data + data);
        } else {
            // Readable from the start: the sizes follow the name directly.
            EXPECT_EQ(empty, "#1\nfloat x(0,3)" + std::string(30, ' ') + "\n");
            std::string line = "  1.0000000E+00  2.0000000E+00  3.0000000E+00\n";
            EXPECT_EQ(two, "#1\nfloat x(2,3) " + std::string(29, ' ') + "\n" + line + line);
            EXPECT_EQ(readFile(path), two + "\n");
        }
    }
}

TEST(AmatWriteRows, DoubleRowsAreStoredAsDoubles) {
    std::string path = tempPath("d.mat");
    AmatPutFile f;
    ASSERT_EQ(amatPutOpen(path.c_str(), amatBinaryFormat, binTrans, "", nullptr, nullptr, &f), 0);
    ASSERT_EQ(amatPutRinit(&f, "d", 2, doubleRowMatrix), 0);
    const float row[2] = {0.5f, -2.0f};
    ASSERT_EQ(amatPutRrow(&f, row), 0);
    ASSERT_EQ(amatPutRclose(&f), 0);
    ASSERT_EQ(amatPutClose(&f), 0);
    const double expect[2] = {0.5, -2.0};
    EXPECT_EQ(readFile(path), header(0, 2, 1, 0, "d") + std::string(reinterpret_cast<const char*>(expect), 16));
}

TEST(AmatWriteRows, PatchPositionOfSecondRow) {
    const float data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (AmatBinStruct layout : {binTrans, binNormal}) {
        AmatPutFile f;
        ASSERT_EQ(amatPutOpen(tempPath("p.mat").c_str(), amatBinaryFormat, layout, "", nullptr, nullptr, &f), 0);
        f.patchState = 1;
        AmatMatrix m = view("m", 2, 4, realMatrix, data);
        ASSERT_EQ(amatPutMatrix(&f, &m), 0);
        EXPECT_EQ(f.patchState, 2);
        EXPECT_EQ(f.patchType, 5);
        EXPECT_EQ(f.patchPos, 20 + 2 + (layout == binTrans ? 16 : 4));
        amatPutClose(&f);
    }
}

TEST(AmatWriteMisuse, RefusedCallsReturnCodesAndMessages) {
    std::string path = tempPath("m.mat");
    const float row[2] = {1, 2};
    const int32_t v[1] = {1};
    AmatMatrix m = view("v", 1, 1, integerMatrix, v);
    AmatMatrix neg = view("v", -1, 1, integerMatrix, v);
    AmatMatrix unknown = view("v", 1, 1, static_cast<AmatType>(9), v);
    AmatPutFile closed;
    memset(&closed, 0, sizeof closed);
    AmatPutFile f;
    ASSERT_EQ(amatPutOpen(path.c_str(), amatBinaryFormat, binTrans, "", nullptr, nullptr, &f), 0);
    struct Case {
        const char* what;
        int code;
        std::function<int()> call;
        const char* message;
    };
    const Case cases[] = {
        {"row without start", 1, [&] { return amatPutRrow(&f, row); }, "amatPutRinit must be called first"},
        {"close without start", 1, [&] { return amatPutRclose(&f); }, "amatPutRinit must be called first"},
        {"negative columns", 1, [&] { return amatPutRinit(&f, "x", -1, realMatrix); }, "(ncol >= 0 required)"},
        {"wrong type", 1, [&] { return amatPutRinit(&f, "x", 2, integerMatrix); }, "realMatrix or doubleMatrix required"},
        {"negative rows", 1, [&] { return amatPutMatrix(&f, &neg); }, "dimensions must be >= 0"},
        {"unknown type", 1, [&] { return amatPutMatrix(&f, &unknown); }, "(matrix.type = 9)"},
        {"start", 0, [&] { return amatPutRinit(&f, "x", 2, realMatrix); }, "unchanged"},
        {"second start", 1, [&] { return amatPutRinit(&f, "y", 2, realMatrix); }, "is still being written row-wise"},
        {"whole while rows", 1, [&] { return amatPutMatrix(&f, &m); }, "call amatPutRclose first"},
        {"null row", 4, [&] { return amatPutRrow(&f, nullptr); }, "Unexpected null-pointer"},
        {"no stream matrix", 1, [&] { return amatPutMatrix(&closed, &m); }, "The file is not open"},
        {"no stream start", 1, [&] { return amatPutRinit(&closed, "x", 2, realMatrix); }, "the file is not open"},
        {"no stream row", 1, [&] { return amatPutRrow(&closed, row); }, "amatPutRinit must be called first"},
        {"null record", 4, [&] { return amatPutMatrix(nullptr, &m); }, "Unexpected null-pointer"},
    };
    for (const Case& c : cases) {
        strcpy(amatMessage, "unchanged");
        EXPECT_EQ(c.call(), c.code) << c.what;
        EXPECT_NE(strstr(amatMessage, c.message), nullptr) << c.what << ": " << amatMessage;
    }
    ASSERT_EQ(amatPutRclose(&f), 0);
    ASSERT_EQ(amatPutClose(&f), 0);
    // The file holds the row-wise matrix only: nothing of the refused calls.
    EXPECT_EQ(readFile(path), header(10, 2, 0, 0, "x"));
}

TEST(AmatWriteMisuse, EachRefusalLeavesItsMessage) {
    const float row[2] = {1, 2};
    AmatPutFile f;
    ASSERT_EQ(amatPutOpen(tempPath("m.mat").c_str(), amatBinaryFormat, binNormal, "", nullptr, nullptr, &f), 0);
    EXPECT_EQ(amatPutRinit(&f, "x", 2, realMatrix), 1);
    EXPECT_NE(strstr(amatMessage, "bstruct = binTrans"), nullptr) << amatMessage;
    EXPECT_EQ(amatPutRrow(&f, row), 1);
    EXPECT_NE(strstr(amatMessage, "amatPutRinit must be called first"), nullptr) << amatMessage;
    ASSERT_EQ(amatPutClose(&f), 0);
    ASSERT_EQ(amatPutOpen(nullptr, amatTextFormat, binTrans, "", nullptr, nullptr, &f), 0);
    EXPECT_EQ(amatPutRinit(&f, "x", 2, realMatrix), 1);
    EXPECT_NE(strstr(amatMessage, "no file, but stdout"), nullptr) << amatMessage;
    // Closing standard output flushes it and leaves it open.
    EXPECT_EQ(amatPutClose(&f), 0);
    EXPECT_EQ(fflush(stdout), 0);
    EXPECT_NE(fcntl(STDOUT_FILENO, F_GETFD), -1);
}

TEST(AmatWriteMisuse, LostDataIsReportedNotSuccess) {
    // Every write to /dev/full fails once the stream buffer is flushed.
    AmatPutFile f;
    ASSERT_EQ(amatPutOpen("/dev/full", amatBinaryFormat, binTrans, "X", nullptr, nullptr, &f), 0);
    ASSERT_EQ(amatPutRinit(&f, "x", 2, realMatrix), 1);
    ASSERT_EQ(f.rowName, nullptr);
    EXPECT_EQ(amatPutClose(&f), 1);
    EXPECT_NE(strstr(amatMessage, "Error when closing file \"/dev/full\""), nullptr) << amatMessage;
    EXPECT_EQ(f.fp, nullptr);
}
