// The matrix file reader: every type in both forms and layouts, the request
// checks, the class matrix, and damaged files refused with their messages.
#include "amat_test_util.h"

#include <math.h>
#include <string.h>

using namespace amat_test;

namespace {

// Element (i, j) of the test matrices.
double value(int i, int j) { return i * 10 + j + 0.5; }

// Each type of the 2 x 3 test matrix, as blocks (column by column) and rows.
struct Written {
    std::vector<int32_t> ints;
    std::vector<float> floats, frows[2];
    std::vector<double> doubles, drows[2];
    float* fptr[2] = {nullptr, nullptr};
    double* dptr[2] = {nullptr, nullptr};
    Written() {
        for (int k = 0; k < 6; ++k) {
            int i = k % 2, j = k / 2;
            ints.push_back(i * 10 + j);
            floats.push_back(static_cast<float>(value(i, j)));
            doubles.push_back(value(i, j) + 1e-12);
            frows[k / 3].push_back(static_cast<float>(value(k / 3, k % 3)));
            drows[k / 3].push_back(value(k / 3, k % 3) + 1e-12);
        }
        for (int i = 0; i < 2; ++i) {
            fptr[i] = frows[i].data();
            dptr[i] = drows[i].data();
        }
    }
};

const char* textRows[] = {"first", nullptr, "a\\b\nc"};

void writeAllTypes(const std::string& path, FileFormat format, AmatBinStruct layout, const Written& w) {
    AmatPutFile f;
    ASSERT_EQ(amatPutOpen(path.c_str(), format, layout, "Cls", "2.0", "all types", &f), 0) << amatMessage;
    AmatMatrix ms[] = {view("i", 2, 3, integerMatrix, w.ints.data()), view("r", 2, 3, realMatrix, w.floats.data()),
                       view("d", 2, 3, doubleMatrix, w.doubles.data()), view("s", 3, 0, charMatrix, textRows),
                       view("rr", 2, 3, realRowMatrix, w.fptr), view("dr", 2, 3, doubleRowMatrix, w.dptr)};
    for (AmatMatrix& m : ms) ASSERT_EQ(amatPutMatrix(&f, &m), 0) << amatMessage;
    ASSERT_EQ(amatPutClose(&f), 0);
}

// Opens path without class and reads the first matrix with the request.
int readFirst(const std::string& path, AmatMatrix* request) {
    AmatGetFile f;
    int open = amatGetOpen(path.c_str(), "NoClass", nullptr, &f);
    if (open != 0) return 100 + open;
    int result = amatGetMatrix(&f, request, 0, nullptr, 1);
    amatGetClose(&f);
    return result;
}

std::string storeDouble(const std::string& path, int nrow, int ncol) {
    std::vector<double> d(static_cast<size_t>(nrow * ncol), 1.0);
    AmatMatrix m = view("m", nrow, ncol, doubleMatrix, d.data());
    EXPECT_EQ(amatWriteFile(path.c_str(), amatBinaryFormat, &m), 0) << amatMessage;
    return path;
}

} // namespace

TEST(AmatRead, EveryTypeInBothFormsAndLayouts) {
    Written w;
    const std::pair<FileFormat, AmatBinStruct> forms[] = {{amatBinaryFormat, binNormal},
                                                          {amatBinaryFormat, binTrans},
                                                          {amatTextFormat, binNormal}};
    for (auto [format, layout] : forms) {
        SCOPED_TRACE(testing::Message() << "format " << format << " layout " << layout);
        std::string path = tempPath("all");
        writeAllTypes(path, format, layout, w);
        AmatGetFile f;
        ASSERT_EQ(amatGetOpen(path.c_str(), "Cls", "2.0", &f), 0) << amatMessage;
        EXPECT_EQ(f.binTrans, format == amatBinaryFormat && layout == binTrans ? 1 : 0);
        const AmatType expected[] = {integerMatrix, realMatrix, doubleMatrix, charMatrix, realRowMatrix,
                                     doubleRowMatrix};
        for (AmatType type : expected) {
            AmatMatrix m;
            amatInitMatrix(&m);
            // Row types are asked for; the rest come as stored.
            if (type == realRowMatrix || type == doubleRowMatrix) m.type = type;
            ASSERT_EQ(amatGetNextMatrix(&f, &m), 0) << amatMessage;
            EXPECT_EQ(m.type, type);
            ASSERT_EQ(m.nrow, type == charMatrix ? 3 : 2);
            if (type == charMatrix) {
                char** rows = static_cast<char**>(m.data);
                EXPECT_STREQ(rows[0], "first");
                EXPECT_TRUE(rows[1] == nullptr || rows[1][0] == '\0');
                EXPECT_STREQ(rows[2], "a\\b\nc");
                EXPECT_EQ(m.ncol, 5);
            } else {
                ASSERT_EQ(m.ncol, 3);
                for (int i = 0; i < 2; ++i)
                    for (int j = 0; j < 3; ++j) {
                        double expect = type == integerMatrix ? i * 10 + j
                                        : (type == doubleMatrix || type == doubleRowMatrix) ? value(i, j) + 1e-12
                                                                                            : static_cast<float>(value(i, j));
                        EXPECT_EQ(element(m, i, j), expect) << m.name << " " << i << "," << j;
                    }
            }
            if (type == realRowMatrix || type == doubleRowMatrix) {
                EXPECT_EQ(m.rowCapacity, 10);
                EXPECT_EQ(m.rowNext, 2);
            }
            amatFreeMatrix(&m);
        }
        AmatMatrix end;
        amatInitMatrix(&end);
        EXPECT_EQ(amatGetNextMatrix(&f, &end), 3);
        EXPECT_NE(strstr(amatMessage, format == amatBinaryFormat ? "End-Of-File reached." : "End-of-File reached"),
                  nullptr)
            << amatMessage;
        amatGetClose(&f);
    }
}

TEST(AmatRead, ClassMatrixChecks) {
    Written w;
    std::string path = tempPath("cls.mat");
    writeAllTypes(path, amatBinaryFormat, binTrans, w);
    struct Case {
        const char* className;
        const char* version;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"Cls", nullptr, 0, ""},
        {"Other", nullptr, 2, "does not correspond to\nthe required class name (= \"Other\")"},
        {nullptr, nullptr, 2, "the required class name (= \"\")"},
        {"Cls", "1.0", 3, "the version number  (= \"2.0\")"},
    };
    for (const Case& c : cases) {
        AmatGetFile f;
        EXPECT_EQ(amatGetOpen(path.c_str(), c.className, c.version, &f), c.code) << amatMessage;
        if (c.code != 0) {
            EXPECT_NE(strstr(amatMessage, c.message), nullptr) << amatMessage;
        }
        EXPECT_EQ(f.fp == nullptr, c.code != 0);
        amatGetClose(&f);
    }
    // Without class the class matrix is an ordinary matrix and the layout is
    // not known, so the matrices come back as stored (transposed).
    AmatMatrix m;
    amatInitMatrix(&m);
    AmatGetFile f;
    ASSERT_EQ(amatGetOpen(path.c_str(), "NoClass", nullptr, &f), 0);
    ASSERT_EQ(amatGetNextMatrix(&f, &m), 0);
    EXPECT_STREQ(m.name, "Aclass");
    EXPECT_STREQ(static_cast<char**>(m.data)[3], "binTrans");
    amatFreeMatrix(&m);
    ASSERT_EQ(amatGetNextMatrix(&f, &m), 0);
    EXPECT_EQ(m.nrow, 3);
    EXPECT_EQ(m.ncol, 2);
    amatFreeMatrix(&m);
    amatGetClose(&f);
}

TEST(AmatRead, BlankClassRowsCompareAsEmptyText) {
    // Rows "Cls", "   " and "   " padded without NUL, as other writers store
    // text: the blank rows come back as null rows.
    std::string path = tempPath("blank.mat");
    writeFile(path, header(51, 3, 3, 0, "Aclass") + "C  l  s  ");
    AmatGetFile f;
    ASSERT_EQ(amatGetOpen(path.c_str(), "Cls", "", &f), 0) << amatMessage;
    EXPECT_EQ(static_cast<char**>(f.classMatrix.data)[1], nullptr);
    amatGetClose(&f);
}

TEST(AmatRead, RequestChecks) {
    std::string path = storeDouble(tempPath("m.mat"), 3, 2);
    struct Case {
        const char* name;
        int32_t nrow, ncol;
        AmatType type;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {nullptr, -5, 0, voidMatrix, 0, ""},
        {"m", 3, 2, doubleMatrix, 0, ""},
        {nullptr, -2, 0, voidMatrix, 2, "because row dimension <= 2 required"},
        {nullptr, 2, 0, voidMatrix, 2, "because row dimension = 2 required"},
        {nullptr, 0, 3, voidMatrix, 2, "because column dimension = 3 required"},
        {nullptr, 0, -1, voidMatrix, 2, "because column dimension <= 1 required"},
        {nullptr, 0, 0, charMatrix, 2, "should be of type \"char\" and not of type \"double\""},
        {"other", 0, 0, voidMatrix, 2, "because matrix-name = \"other\" required"},
        {nullptr, 0, 0, static_cast<AmatType>(9), 4, "(matrix->type = 9)"},
    };
    for (const Case& c : cases) {
        AmatMatrix m;
        amatInitMatrix(&m);
        m.name = const_cast<char*>(c.name);
        m.nrow = c.nrow;
        m.ncol = c.ncol;
        m.type = c.type;
        EXPECT_EQ(readFirst(path, &m), c.code) << amatMessage;
        if (c.code != 0) {
            EXPECT_NE(strstr(amatMessage, c.message), nullptr) << amatMessage;
        }
        if (c.code == 0) {
            EXPECT_EQ(m.type, doubleMatrix);
        }
        if (c.name == nullptr) amatFreeMatrix(&m);
        else free(m.data);
    }
}

TEST(AmatRead, DeliveredTypes) {
    const float f[2] = {1.5f, 2.5f};
    std::string path = tempPath("f.mat");
    AmatMatrix stored = view("f", 1, 2, realMatrix, f);
    ASSERT_EQ(amatWriteFile(path.c_str(), amatBinaryFormat, &stored), 0);
    struct Case {
        AmatType request;
        int preferredReal;
        AmatType delivered;
    };
    const Case cases[] = {{doubleMatrix, 0, realMatrix},     {doubleRowMatrix, 0, realRowMatrix},
                          {voidMatrix, 3, doubleMatrix},     {voidMatrix, 0, realMatrix},
                          {integerMatrix, 0, integerMatrix}, {realRowMatrix, 0, realRowMatrix}};
    for (const Case& c : cases) {
        AmatGetFile file;
        ASSERT_EQ(amatGetOpen(path.c_str(), "NoClass", nullptr, &file), 0);
        AmatMatrix m;
        amatInitMatrix(&m);
        m.type = c.request;
        ASSERT_EQ(amatGetMatrix(&file, &m, c.preferredReal, nullptr, 1), 0) << amatMessage;
        EXPECT_EQ(m.type, c.delivered);
        EXPECT_EQ(element(m, 0, 1), c.delivered == integerMatrix ? 2.0 : 2.5);
        amatFreeMatrix(&m);
        amatGetClose(&file);
    }
}

TEST(AmatRead, ZeroElementsAndTrimmedBinaryText) {
    std::string zero = tempPath("zero.mat");
    writeFile(zero, header(0, 0, 4, 0, "z"));
    AmatMatrix m;
    amatInitMatrix(&m);
    EXPECT_EQ(readFirst(zero, &m), 1);
    EXPECT_STREQ(m.name, "z");
    EXPECT_EQ(m.nrow, 0);
    EXPECT_EQ(m.ncol, 0);
    EXPECT_EQ(m.data, nullptr);
    amatFreeMatrix(&m);
    std::string text = tempPath("t.mat");
    writeFile(text, header(51, 1, 5, 0, "t") + std::string("ab\0  ", 5));
    for (int trim : {1, 0}) {
        AmatGetFile f;
        ASSERT_EQ(amatGetOpen(text.c_str(), "NoClass", nullptr, &f), 0);
        amatInitMatrix(&m);
        ASSERT_EQ(amatGetMatrix(&f, &m, 0, nullptr, trim), 0) << amatMessage;
        EXPECT_STREQ(static_cast<char**>(m.data)[0], "ab");
        EXPECT_EQ(m.ncol, 2);
        amatFreeMatrix(&m);
        amatGetClose(&f);
    }
}

TEST(AmatRead, DamagedFilesAreRefused) {
    double nan = NAN;
    const std::string nanBytes(reinterpret_cast<const char*>(&nan), 8);
    struct Case {
        const char* what;
        std::string bytes;
        AmatType request;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"imaginary", header(0, 1, 1, 1, "c") + std::string(16, '\0'), voidMatrix, 4, "imaginary part (imagf = 1)"},
        {"nan to int", header(0, 1, 1, 0, "n") + nanBytes, integerMatrix, 4, "Error when reading numeric data"},
        {"huge sizes", header(0, 0x7fffffff, 0x7fffffff, 0, "h") + "12345678", voidMatrix, 4,
         "Error when reading numeric data of matrix \"h(2147483647,2147483647)\""},
        {"huge name", header(0, 1, 1, 0, "x").replace(16, 4, "\xff\xff\xff\x7f", 4), voidMatrix, 4,
         "Error reading matrix header"},
        {"negative rows", header(0, -1, 1, 0, "x"), voidMatrix, 4, "Wrong row dimension (= -1)"},
        {"format word", header(1000, 1, 1, 0, "x"), voidMatrix, 4, "incorrect format"},
        {"float text", header(11, 1, 1, 0, "x") + "abcd", voidMatrix, 4, "Wrong precision flag (= 1) of character"},
        {"type flag", header(2, 1, 1, 0, "x"), voidMatrix, 4, "Wrong type flag (= 2)"},
        {"short header", std::string(10, '\0'), voidMatrix, 4, "End-Of-File reached."},
        {"short data", header(0, 2, 1, 0, "x") + std::string(12, '\0'), voidMatrix, 4, "numeric data"},
        {"text end inside numbers", "#1\ndouble x(2,2)\n 1 2\n 3\n", voidMatrix, 4, "numeric data of matrix \"x(2,2)\""},
        {"text int too large", "#1\nint x(1,1)\n 1e20\n", voidMatrix, 4, "numeric data"},
        {"text size overflow", "#1\nint x(99999999999,1)\n 1\n", voidMatrix, 4, "Error scanning the following"},
        {"text blank before sizes", "#1\nint x (1,1)\n 1\n", voidMatrix, 4, "Expected is: <type> <name>"},
        {"text unknown word", "#1\nlong x(1,1)\n 1\n", voidMatrix, 4, "\"int\", \"float\", \"double\" or \"char\""},
        {"text row missing", "#1\nchar x(3,2)\nab\n", voidMatrix, 4, "Error reading data of text matrix"},
        {"text rows beyond file", "#1\nchar x(99999999,2)\nab\n", voidMatrix, 4, "Error reading data of text"},
        {"bad first line", "#2\n", voidMatrix, 105, "\"#1\" expected, but \"#2\" found"},
        {"text ends in first line", "#", voidMatrix, 104, "End-Of-File reached."},
        {"empty file", "", voidMatrix, 105, "Error reading first character"},
    };
    for (const Case& c : cases) {
        std::string path = tempPath("bad");
        writeFile(path, c.bytes);
        AmatMatrix m;
        amatInitMatrix(&m);
        m.type = c.request;
        strcpy(amatMessage, "unchanged");
        EXPECT_EQ(readFirst(path, &m), c.code) << c.what << ": " << amatMessage;
        EXPECT_NE(strstr(amatMessage, c.message), nullptr) << c.what << ": " << amatMessage;
        EXPECT_EQ(m.data, nullptr) << c.what;
        amatFreeMatrix(&m);
    }
}

TEST(AmatRead, NameWithoutTerminatorStaysBounded) {
    std::string bytes = header(20, 1, 1, 0, "abc");
    bytes[16] = 3;  // namlen 3: no NUL inside the name
    bytes.erase(23, 1);
    bytes += std::string("\x07\0\0\0", 4);
    std::string path = tempPath("n.mat");
    writeFile(path, bytes);
    AmatMatrix m;
    amatInitMatrix(&m);
    ASSERT_EQ(readFirst(path, &m), 0) << amatMessage;
    EXPECT_STREQ(m.name, "abc");
    EXPECT_EQ(static_cast<int32_t*>(m.data)[0], 7);
    amatFreeMatrix(&m);
}

TEST(AmatRead, TextWithByteOrderMarkAndComments) {
    std::string path = tempPath("bom.txt");
    writeFile(path, "\xEF\xBB\xBF#1\n# comment\ndouble x(1,3) trailing\n 1 # a row comment\n # more\n 2.5 3\n\n");
    AmatMatrix m;
    amatInitMatrix(&m);
    ASSERT_EQ(readFirst(path, &m), 0) << amatMessage;
    EXPECT_EQ(element(m, 0, 0), 1.0);
    EXPECT_EQ(element(m, 0, 1), 2.5);
    EXPECT_EQ(element(m, 0, 2), 3.0);
    amatFreeMatrix(&m);
}

TEST(AmatRead, RowWiseFileIsReadableAfterEveryRow) {
    const float row[2] = {1.0f, 2.0f};
    for (FileFormat format : {amatBinaryFormat, amatTextFormat}) {
        std::string path = tempPath("rows");
        AmatPutFile w;
        ASSERT_EQ(amatPutOpen(path.c_str(), format, binTrans, "Cls", nullptr, nullptr, &w), 0);
        ASSERT_EQ(amatPutRinit(&w, "x", 2, doubleMatrix), 0);
        for (int n = 0; n <= 3; ++n) {
            if (n > 0) {
            ASSERT_EQ(amatPutRrow(&w, row), 0) << amatMessage;
        }
            AmatGetFile f;
            ASSERT_EQ(amatGetOpen(path.c_str(), "Cls", nullptr, &f), 0) << amatMessage;
            AmatMatrix m;
            amatInitMatrix(&m);
            EXPECT_EQ(amatGetNextMatrix(&f, &m), n == 0 ? 1 : 0) << amatMessage;
            EXPECT_EQ(m.nrow, n);
            if (n > 0) {
            EXPECT_EQ(element(m, n - 1, 1), 2.0);
        }
            amatFreeMatrix(&m);
            amatGetClose(&f);
        }
        ASSERT_EQ(amatPutRclose(&w), 0);
        ASSERT_EQ(amatPutClose(&w), 0);
    }
}

TEST(AmatRead, CallerStorageNeedsPredefinedSizes) {
    std::string path = storeDouble(tempPath("m.mat"), 2, 2);
    double storage[4] = {0, 0, 0, 0};
    AmatMatrix m = view("m", 0, 2, doubleMatrix, storage);
    EXPECT_EQ(readFirst(path, &m), 4);
    EXPECT_NE(strstr(amatMessage, "Programming error"), nullptr) << amatMessage;
    m = view("m", 2, 2, doubleMatrix, storage);
    EXPECT_EQ(readFirst(path, &m), 0) << amatMessage;
    EXPECT_EQ(storage[3], 1.0);
}

TEST(AmatRead, TextFilesRoundTripByteForByte) {
    Written w;
    std::string first = tempPath("first.txt");
    writeAllTypes(first, amatTextFormat, binNormal, w);
    AmatPutFile out;
    std::string second = tempPath("second.txt");
    AmatGetFile in;
    ASSERT_EQ(amatGetOpen(first.c_str(), "Cls", "2.0", &in), 0) << amatMessage;
    char** cls = static_cast<char**>(in.classMatrix.data);
    ASSERT_EQ(amatPutOpen(second.c_str(), amatTextFormat, binNormal, cls[0], cls[1], cls[2], &out), 0);
    AmatMatrix m;
    amatInitMatrix(&m);
    int read = 0;
    while (amatGetNextMatrix(&in, &m) == 0) {
        EXPECT_EQ(amatPutMatrix(&out, &m), 0) << amatMessage;
        amatFreeMatrix(&m);
        ++read;
    }
    amatFreeMatrix(&m);
    amatGetClose(&in);
    ASSERT_EQ(amatPutClose(&out), 0);
    EXPECT_EQ(read, 6);
    EXPECT_EQ(readFile(second), readFile(first));
}
