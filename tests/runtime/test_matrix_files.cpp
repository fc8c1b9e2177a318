// Matrix-file functions of generated code under the evaluation trap: round
// trips of matrices, sizes, names and parameter arrays, append mode, walks
// past matrices without elements, and every failure with its check, leaving
// no file open.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "matrix_files.h"
#include "test_arrays_support.h"

namespace {

int openFiles() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

class MatrixFiles : public ArrayTest {
protected:
    void SetUp() override {
        ArrayTest::SetUp();
        char pattern[] = "/tmp/matrix_files_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
        ArrayTest::TearDown();
    }
    std::string path(const char* name) const { return dir_ + "/" + name; }

    std::vector<std::string> names(const std::string& file) {
        std::vector<std::string> r;
        EXPECT_EQ(failure([&] {
                      StringArray a = readMatrixNames(file.c_str());
                      for (int k = 0; k < a.dims[0]; ++k) r.push_back(std::string(a.data[2 * k]) + ":" + a.data[2 * k + 1]);
                  }),
                  "");
        return r;
    }

    // Appends one binary matrix: the header (type word, rows, columns, no
    // imaginary part, length of the name with its NUL), the name, the data.
    static void appendMatrix(std::string& bytes, const std::string& name, int32_t type, int32_t rows, int32_t cols,
                             const void* data, size_t size) {
        const int32_t header[5] = {type, rows, cols, 0, static_cast<int32_t>(name.size() + 1)};
        bytes.append(reinterpret_cast<const char*>(header), sizeof header);
        bytes.append(name.c_str(), name.size() + 1);
        bytes.append(static_cast<const char*>(data), size);
    }

    // A new binary file of `count` 1 x 1 double matrices named "m0", "m1", ...
    std::string manyMatrices(const char* name, int count) {
        std::string bytes;
        for (int k = 0; k < count; ++k) {
            const double value = k;
            appendMatrix(bytes, "m" + std::to_string(k), 0, 1, 1, &value, sizeof value);
        }
        const std::string file = path(name);
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }

    std::string dir_;
};

TEST_F(MatrixFiles, RealMatrixRoundTripSizeAndNames) {
    const std::string file = path("m.mat");
    EXPECT_EQ(failure([&] {
                  EXPECT_EQ(writeRealMatrix(file.c_str(), "A", realMatrix(2, 3, {1, 2, 3, 4, 5, 6}), 0), 1);
                  RealArray a = readRealMatrix(file.c_str(), "A", 2, 3);
                  EXPECT_EQ(elementsOf(a), (std::vector<double>{1, 2, 3, 4, 5, 6}));
                  EXPECT_EQ(elementsOf(readMatrixSize(file.c_str(), "A")), (std::vector<int>{2, 3}));
              }),
              "");
    // writeMatrices stores the elements in the array's own order, so 1..6
    // are read back by readRealMatrix as the columns of a 2 x 3 matrix.
    RealArray flat = realMatrix(2, 3, {1, 2, 3, 4, 5, 6});
    IntegerArray ints = integerMatrix(1, 1, {7});
    EXPECT_EQ(failure([&] {
                  writeMatrices(file.c_str(), 3, "C", 3, 2, &flat, "I", 1, 2, &ints, "S", 4, 0, "text");
                  EXPECT_EQ(elementsOf(readRealMatrix(file.c_str(), "C", 2, 3)), (std::vector<double>{1, 3, 5, 2, 4, 6}));
                  EXPECT_EQ(elementsOf(readRealMatrix(file.c_str(), "I", 1, 1)), std::vector<double>{7});
              }),
              "");
    EXPECT_EQ(names(file), (std::vector<std::string>{"C:Real", "I:Integer", "S:Unknown"}));
}

TEST_F(MatrixFiles, WalksGoOnPastMatricesWithoutElements) {
    const std::string file = path("empty.mat");
    EXPECT_EQ(failure([&] {
                  EXPECT_EQ(writeRealMatrix(file.c_str(), "E", RealMatrixAlloc(0, 4), 0), 1);
                  EXPECT_EQ(writeRealMatrix(file.c_str(), "B", realMatrix(1, 1, {42}), 1), 1);
              }),
              "");
    EXPECT_EQ(failure([&] {
                  EXPECT_EQ(elementsOf(readRealMatrix(file.c_str(), "B", 1, 1)), std::vector<double>{42});
                  EXPECT_EQ(readRealParameter(file.c_str(), "B"), 42);
                  EXPECT_EQ(elementsOf(readRealMatrix(file.c_str(), "E", 0, 4)), std::vector<double>{});
              }),
              "");
    EXPECT_EQ(names(file), (std::vector<std::string>{"E:Real", "B:Real"}));
    // Appending keeps the empty matrix too.
    EXPECT_EQ(failure([&] { EXPECT_EQ(writeRealMatrix(file.c_str(), "N", realMatrix(1, 1, {1}), 1), 1); }), "");
    EXPECT_EQ(names(file), (std::vector<std::string>{"E:Real", "B:Real", "N:Real"}));
}

TEST_F(MatrixFiles, AppendKeepsEveryOtherMatrixAndReplacesItsOwnName) {
    const std::string file = path("append.mat");
    std::vector<std::string> expected;
    EXPECT_EQ(failure([&] {
                  EXPECT_EQ(writeRealMatrix(file.c_str(), "M0", realMatrix(1, 1, {0}), 1), 1); // creates the file
                  for (int k = 1; k < 25; ++k) {
                      const std::string name = "M" + std::to_string(k);
                      EXPECT_EQ(writeRealMatrix(file.c_str(), name.c_str(), realMatrix(1, 1, {double(k)}), 1), 1);
                  }
                  EXPECT_EQ(writeRealMatrix(file.c_str(), "M3", realMatrix(1, 2, {-3, 3}), 1), 1);
                  EXPECT_EQ(elementsOf(readRealMatrix(file.c_str(), "M3", 1, 2)), (std::vector<double>{-3, 3}));
                  EXPECT_EQ(elementsOf(readRealMatrix(file.c_str(), "M24", 1, 1)), std::vector<double>{24});
              }),
              "");
    for (int k = 0; k < 25; ++k)
        if (k != 3) expected.push_back("M" + std::to_string(k) + ":Real");
    expected.push_back("M3:Real");
    EXPECT_EQ(names(file), expected);

    // A file that is not a matrix file is left as it is.
    const std::string other = path("notes.txt");
    std::ofstream(other) << "#2 not a matrix file\n";
    EXPECT_EQ(failure([&] { EXPECT_EQ(writeRealMatrix(other.c_str(), "X", realMatrix(1, 1, {1}), 1), 0); }), "");
    std::stringstream kept;
    kept << std::ifstream(other).rdbuf();
    EXPECT_EQ(kept.str(), "#2 not a matrix file\n");
}

TEST_F(MatrixFiles, ParameterArraysRoundTripThroughWriteMatrices) {
    const std::string file = path("params.mat");
    RealArray cube = RealConstruct(3, 2, 1, 3);
    for (int k = 0; k < 6; ++k) cube.data[k] = k + 0.5;
    IntegerArray ints = integerMatrix(2, 2, {1, 2, 3, 4});
    const char* texts[] = {"one", "", "three"};
    StringArray strings = StringWrapData(texts, 1, 3);
    EXPECT_EQ(failure([&] {
                  writeMatrices(file.c_str(), 6, "n", 1, 0, 7, "x", 3, 0, 2.5, "s", 4, 0, "hello", "cube", 3, 3, &cube,
                                "ints", 1, 2, &ints, "strings", 4, 1, &strings);
                  EXPECT_EQ(readIntegerParameter(file.c_str(), "n"), 7);
                  EXPECT_EQ(readRealParameter(file.c_str(), "x"), 2.5);
                  EXPECT_STREQ(readStringParameter(file.c_str(), "s"), "hello");
                  RealArray c = readRealParameterArray(file.c_str(), "cube", 3);
                  EXPECT_EQ(dimsOf(c), (std::vector<int>{2, 1, 3}));
                  EXPECT_EQ(elementsOf(c), elementsOf(cube));
                  IntegerArray i = readIntegerParameterArray(file.c_str(), "ints", 2);
                  EXPECT_EQ(dimsOf(i), (std::vector<int>{2, 2}));
                  EXPECT_EQ(elementsOf(i), elementsOf(ints));
                  StringArray s = readStringParameterArray(file.c_str(), "strings", 1);
                  ASSERT_EQ(dimsOf(s), std::vector<int>{3});
                  EXPECT_STREQ(s.data[0], "one");
                  EXPECT_STREQ(s.data[1], "");
                  EXPECT_STREQ(s.data[2], "three");
              }),
              "");
    EXPECT_EQ(names(file)[3], "cube.size:Integer");
}

TEST_F(MatrixFiles, StringTableLargerThanTheStringBufferReadsBack) {
    const std::string file = path("table.mat");
    std::vector<std::string> rows;
    std::vector<const char*> texts;
    // The rows keep their trailing blanks.
    for (int k = 0; k < 170; ++k) rows.push_back(std::to_string(k) + std::string(60, 'a' + k % 26) + "  ");
    for (const std::string& row : rows) texts.push_back(row.c_str());
    StringArray table = StringWrapData(texts.data(), 1, static_cast<int>(texts.size()));
    EXPECT_EQ(failure([&] {
                  writeMatrices(file.c_str(), 1, "table", 4, 1, &table);
                  StringArray s = readStringParameterArray(file.c_str(), "table", 1);
                  ASSERT_EQ(dimsOf(s), std::vector<int>{170});
                  for (int k = 0; k < 170; ++k) EXPECT_EQ(s.data[k], rows[k]);
              }),
              "");
}

TEST_F(MatrixFiles, SourceWithoutEndEndsTheWalk) {
    // /dev/zero yields matrices without elements for ever.
    EXPECT_EQ(failure([] { readRealParameter("/dev/zero", "p"); }), "matrices<=100000 | Too many matrices in file");
    EXPECT_EQ(failure([] { readMatrixNames("/dev/zero"); }), "matrices<=100000 | Too many matrices in file");
}

// A file of 100,000 matrices is read and written like any other; the
// 100,001st matrix, in the file or in the file an append would write, is
// refused.
TEST_F(MatrixFiles, EveryWalkAndTheAppendAllowOneHundredThousandMatrices) {
    const std::string full = manyMatrices("full.mat", 100000);
    const std::string over = manyMatrices("over.mat", 100001);
    const std::string endOfFile = "ret<=1 | Error reading matrix header from file...";
    const std::string tooMany = "matrices<=100000 | Too many matrices in file";
    struct Case {
        const char* walk;
        std::function<void(const char*)> body;
        std::string atBound; // on 100,000 matrices; on 100,001 every walk to the end is refused
    };
    const Case cases[] = {
        {"readRealMatrix", [](const char* f) { readRealMatrix(f, "missing", 1, 1); }, endOfFile},
        {"readMatrixSize", [](const char* f) { readMatrixSize(f, "missing"); }, endOfFile},
        {"readRealParameter", [](const char* f) { readRealParameter(f, "missing"); }, endOfFile},
        {"readStringParameter", [](const char* f) { readStringParameter(f, "missing"); }, endOfFile},
        // Counted in full; only the string buffer is too small for the list.
        {"readMatrixNames", [](const char* f) { readMatrixNames(f); },
         "currentMark.place.Stringbuffer<EndStringbuffer | Out of memory for strings..."},
        // A matrix of the same name is replaced: the file still holds 100,000.
        {"append", [](const char* f) { EXPECT_EQ(writeRealMatrix(f, "m7", realMatrix(1, 1, {-7}), 1), 1); }, ""},
    };
    for (const Case& c : cases) {
        for (const std::string* file : {&full, &over}) {
            const std::string got = failure([&] { c.body(file->c_str()); });
            const std::string& expected = file == &full ? c.atBound : tooMany;
            if (expected.size() > 3 && expected.compare(expected.size() - 3, 3, "...") == 0)
                EXPECT_EQ(got.substr(0, expected.size() - 3), expected.substr(0, expected.size() - 3)) << c.walk;
            else
                EXPECT_EQ(got, expected) << c.walk << (file == &full ? " at" : " past") << " the bound";
            ResetMarks();
        }
    }
    EXPECT_EQ(failure([&] {
                  EXPECT_EQ(elementsOf(readRealMatrix(full.c_str(), "m99999", 1, 1)), std::vector<double>{99999});
                  EXPECT_EQ(elementsOf(readRealMatrix(full.c_str(), "m7", 1, 1)), std::vector<double>{-7});
              }),
              "");
    // A new name would make the 100,001st matrix: refused, the file unchanged.
    std::stringstream before;
    before << std::ifstream(full).rdbuf();
    EXPECT_EQ(failure([&] { writeRealMatrix(full.c_str(), "new", realMatrix(1, 1, {1}), 1); }), tooMany);
    std::stringstream after;
    after << std::ifstream(full).rdbuf();
    EXPECT_TRUE(after.str() == before.str());
}

// Outside an evaluation's trap a full buffer gives null instead of raising:
// the function returns at once with an empty result (sizes 0, no elements),
// never a write through null nor the buffer's stale contents.
TEST_F(MatrixFiles, OutsideATrapAFailureGivesAnEmptyResult) {
    std::string bytes;
    const int kRows = 20000; // string pointers: the buffer holds 10,000
    const int kWidth = 6;
    std::string table(static_cast<size_t>(kRows) * kWidth, '\0'); // column by column
    for (int i = 0; i < kRows; ++i) {
        const std::string row = "r" + std::to_string(i);
        for (size_t j = 0; j < row.size(); ++j) table[j * kRows + i] = row[j];
    }
    appendMatrix(bytes, "table", 51, kRows, kWidth, table.data(), table.size());
    const std::vector<double> reals(600000, 1.0); // the real buffer holds 500,000
    appendMatrix(bytes, "reals", 0, 1, 600000, reals.data(), reals.size() * sizeof(double));
    const std::vector<int32_t> ints(60000, 1); // the integer buffer holds 50,000
    appendMatrix(bytes, "ints", 20, 1, 60000, ints.data(), ints.size() * sizeof(int32_t));
    const double one = 1;
    appendMatrix(bytes, "one", 0, 1, 1, &one, sizeof one);
    // Names of 200 x 61 characters: the simple-string buffer holds 10,000.
    for (int k = 0; k < 200; ++k) appendMatrix(bytes, std::string(60, 'n') + char('a' + k % 26), 0, 1, 1, &one, 8);
    const std::string file = path("big.mat");
    std::ofstream(file, std::ios::binary) << bytes;
    const char* f = file.c_str();

    auto shape = [](const auto& a) {
        std::string text = std::to_string(a.ndims) + ":";
        for (int i = 0; a.dims != nullptr && i < a.ndims; ++i) text += std::to_string(a.dims[i]) + ",";
        return text + (a.data != nullptr ? "data" : "null");
    };
    const std::string reals0 = "currentMark.place.Realbuffer<EndRealbuffer | Out of memory for reals";
    struct Case {
        std::function<std::string()> body;
        std::string result;
        std::string failure; // its beginning
    };
    const Case cases[] = {
        {[&] { return shape(readStringParameterArray(f, "table", 1)); }, "1:0,null",
         "currentMark.place.Stringbuffer<EndStringbuffer | Out of memory for strings"},
        {[&] { return shape(readRealParameterArray(f, "reals", 2)); }, "2:0,0,null", reals0},
        {[&] { return shape(readIntegerParameterArray(f, "ints", 1)); }, "1:0,null",
         "currentMark.place.Integerbuffer<EndIntegerbuffer | Out of memory for integers"},
        {[&] { return shape(readRealMatrix(f, "reals", 1, 600000)); }, "2:0,0,null", reals0},
        {[&] { return shape(readMatrixNames(f)); }, "2:0,0,null", "stringmark+len+1<Endsimplestring | Room"},
        // Not stale elements in the sizes asked for.
        {[&] { return shape(readRealMatrix(f, "one", 2, 2)); }, "2:0,0,null",
         "rows==amatrix.nrow && cols==amatrix.ncol | Matrix dimension incorrect"},
        // No room for the column-major copy of the matrix.
        {[&] { return std::to_string(writeRealMatrix(path("w.mat").c_str(), "w", RealMatrixAlloc(600, 500), 0)); },
         "0", reals0},
    };
    for (const Case& c : cases) {
        host().clearLog();
        EXPECT_EQ(c.body(), c.result) << c.failure;
        const std::string failed = host().log.empty() ? "" : loggedFailure();
        EXPECT_EQ(failed.substr(0, c.failure.size()), c.failure);
        ResetMarks();
    }
}

TEST_F(MatrixFiles, FailuresRaiseTheirChecksAndCloseTheFile) {
    const std::string file = path("f.mat");
    const std::string missing = path("missing.mat");
    RealArray values = realMatrix(2, 3, {1, 2, 3, 4, 5, 6});
    RealArray column = realMatrix(6, 1, {1, 2, 3, 4, 5, 6});
    IntegerArray wrongSizes = integerMatrix(3, 1, {2, 2, 2});
    EXPECT_EQ(failure([&] {
                  writeMatrices(file.c_str(), 5, "A", 3, 2, &values, "S", 4, 0, "ab", "flat", 3, 2, &column, "bad.size",
                                1, 2, &wrongSizes, "bad", 3, 2, &column);
              }),
              "");
    const char* f = file.c_str();
    const std::string longName(203, 'n');
    RealArray cube = RealConstruct(3, 1, 1, 1);
    cube.data[0] = 1;
    const char* m = missing.c_str();
    const std::string numeric =
        "amatrix.type==doubleMatrix || amatrix.type==realMatrix || amatrix.type==integerMatrix | No string matrices "
        "allowed";
    struct Case {
        std::function<void()> body;
        std::string expected; // "condition | message", or its beginning when it ends with "..."
    };
    const Case cases[] = {
        {[&] { readRealMatrix(m, "A", 2, 3); }, "ret==0 | Not possible to open file..."},
        {[&] { readRealMatrix(f, "A", 3, 2); }, "rows==amatrix.nrow && cols==amatrix.ncol | Matrix dimension incorrect"},
        {[&] { readRealMatrix(f, "S", 1, 2); }, numeric},
        {[&] { readMatrixSize(f, "nothing"); }, "ret<=1 | Error reading matrix header from file..."},
        {[&] { readMatrixNames(m); }, "ret==0 | Not possible to open file..."},
        {[&] { readRealParameter(m, "A"); }, "found | Read of matrix failed"},
        {[&] { readRealParameterArray(f, "A", 0); }, "(ndims >= 1) | Current version can only read scalars, vectors, and matrices"},
        {[&] { readRealParameterArray(f, "S", 1); }, numeric},
        {[&] { readIntegerParameterArray(f, "A", 2); }, "amatrix.type==integerMatrix | Integer matrix required"},
        {[&] { readRealParameterArray(f, "flat", 3); }, "sizeFound | Size matrix required for more than two dimensions"},
        {[&] { readRealParameterArray(f, "bad", 3); }, "product(size)==rows*cols | Size matrix does not match the data matrix"},
        {[&] { readStringParameterArray(f, "S", 2); }, "(ndims<=1)&&(ndims>=1) | Current version can only read scalars and vectors"},
        {[&] { readStringParameter(f, "A"); }, "amatrix.type == charMatrix | Only string matrices allowed"},
        {[&] { writeRealMatrix(f, "V", realVector({1}), 0); }, "mat.ndims==2 | Only writing of matrices"},
        {[&] { writeMatrices((dir_ + "/no/such/dir.mat").c_str(), 0); }, "false | failed to open output file"},
        {[&] { writeMatrices(path("w.mat").c_str(), 1, "b", 2, 0, 1); }, "ret==0 | Write of matrix must succeed"},
        // "<name>.size" must fit its buffer.
        {[&] { writeMatrices(path("w.mat").c_str(), 1, longName.c_str(), 3, 3, &cube); }, "ret==0 | Write of matrix must succeed"},
        {[&] { readRealParameterArray(f, longName.c_str(), 3); }, "strlen(name)<=202 | Name of matrix too long"},
    };
    const int before = openFiles();
    for (const Case& c : cases) {
        const std::string got = failure(c.body);
        if (c.expected.size() > 3 && c.expected.compare(c.expected.size() - 3, 3, "...") == 0)
            EXPECT_EQ(got.substr(0, c.expected.size() - 3), c.expected.substr(0, c.expected.size() - 3));
        else
            EXPECT_EQ(got, c.expected);
        EXPECT_EQ(openFiles(), before) << c.expected;
    }
    // A failed write is reported through the result.
    EXPECT_EQ(failure([&] { EXPECT_EQ(writeRealMatrix((dir_ + "/no/x.mat").c_str(), "A", realMatrix(1, 1, {1}), 0), 0); }), "");
}

} // namespace
