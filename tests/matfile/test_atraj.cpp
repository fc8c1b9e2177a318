// Trajectory result files: the record, the precision codes, whole and
// row-wise writing in both forms, and the refused arguments.
#include "amat_test_util.h"
#include "atraj.h"

#include <string.h>

using namespace amat_test;

namespace {

// A trajectory of two signals, "time" and "y", with "data_1" (2 x 2) and
// "data_2" (rows written one by one, 2 columns).
struct TwoSignals {
    Atrajectory traj;
    TwoSignals() {
        EXPECT_EQ(atrajInit(&traj, 2, atrajFloat), 0) << amatMessage;
        char** names = static_cast<char**>(calloc(2, sizeof(char*)));
        names[0] = strdup("time");
        names[1] = strdup("y");
        amatSetMatrix(traj.name.name, 2, 0, charMatrix, names, &traj.name);
        char** descriptions = static_cast<char**>(calloc(2, sizeof(char*)));
        descriptions[0] = strdup("Time in seconds");
        amatSetMatrix(traj.description.name, 2, 0, charMatrix, descriptions, &traj.description);
        int32_t* info = static_cast<int32_t*>(malloc(8 * sizeof(int32_t)));
        const int32_t rows[8] = {0, 2, 1, 2, 0, 0, -1, 0}; // column by column
        memcpy(info, rows, sizeof rows);
        amatSetMatrix(traj.info.name, 2, 4, integerMatrix, info, &traj.info);
        float* first = static_cast<float*>(malloc(4 * sizeof(float)));
        const float values[4] = {0, 1, 7, 7};
        memcpy(first, values, sizeof values);
        amatSetMatrix(traj.data[0].name, 2, 2, realMatrix, first, &traj.data[0]);
        traj.data[1].ncol = 2;
    }
    ~TwoSignals() { atrajFree(&traj); }
};

std::vector<std::string> matrixNames(const std::string& path, const char* className) {
    std::vector<std::string> names;
    AmatGetFile f;
    EXPECT_EQ(amatGetOpen(path.c_str(), className, nullptr, &f), 0) << amatMessage;
    AmatMatrix m;
    amatInitMatrix(&m);
    while (amatGetNextMatrix(&f, &m) <= 1) {
        names.push_back(std::string(m.name) + "(" + std::to_string(m.nrow) + "," + std::to_string(m.ncol) + ")");
        amatFreeMatrix(&m);
    }
    amatFreeMatrix(&m);
    amatGetClose(&f);
    return names;
}

} // namespace

TEST(Atraj, InitNamesTheMatricesAndTypesTheDataByPrecision) {
    const AmatType types[] = {realMatrix, doubleMatrix, realRowMatrix, doubleRowMatrix};
    for (int precision = 0; precision < 4; ++precision) {
        Atrajectory t;
        ASSERT_EQ(atrajInit(&t, 2, precision), 0);
        EXPECT_EQ(t.magic, 201);
        EXPECT_EQ(std::string(t.name.name) + t.description.name + t.info.name, "namedescriptiondataInfo");
        EXPECT_EQ(t.info.ncol, 4);
        ASSERT_EQ(t.nData, 2);
        EXPECT_STREQ(t.data[1].name, "data_2");
        EXPECT_EQ(t.data[0].type, types[precision]);
        atrajFree(&t);
        EXPECT_EQ(t.data, nullptr);
    }
}

TEST(Atraj, RefusedArguments) {
    struct Case {
        int nData, precision;
        const char* message;
    };
    const Case cases[] = {
        {-1, 0, "Input argument nData=-1 of function atrajInit must be >= 0.\n"},
        {1, -1, "Input argument precision=-1 of function atrajResize must be 0, 1, 2 or 3.\n"},
        {1, 4, "Input argument precision=4 of function atrajResize must be 0, 1, 2 or 3.\n"},
    };
    for (const Case& c : cases) {
        Atrajectory t;
        EXPECT_EQ(atrajInit(&t, c.nData, c.precision), 1);
        EXPECT_STREQ(amatMessage, c.message);
        EXPECT_EQ(t.data, nullptr);
        atrajFree(&t);
    }
    Atrajectory t;
    ASSERT_EQ(atrajInit(&t, 1, 0), 0);
    EXPECT_EQ(atrajResize(&t, 1, 0), 1);
    EXPECT_STREQ(amatMessage, "traj->nData (=1) of function atrajResize must be zero.\n");
    EXPECT_EQ(atrajResize(nullptr, 1, 0), 1);
    EXPECT_STREQ(amatMessage, "Unexpected null-pointer");
    atrajFree(&t);
}

TEST(Atraj, RowWiseBinaryFileIsCompleteAfterEveryRow) {
    const std::string path = tempPath("rows.mat");
    TwoSignals s;
    AmatPutFile f;
    ASSERT_EQ(atrajPutOpen(path.c_str(), &s.traj, 1, amatBinaryFormat, &f), 0) << amatMessage;
    EXPECT_EQ(f.patchState, 2); // "data_1" recorded where its second time is
    const std::vector<std::string> open = {"name(2,4)", "description(2,15)", "dataInfo(2,4)", "data_1(2,2)",
                                           "data_2(0,0)"}; // no rows yet: no sizes
    EXPECT_EQ(matrixNames(path, "Atrajectory"), open);
    const float rows[2][2] = {{0, 1}, {0.5f, 2}};
    for (const auto& row : rows) ASSERT_EQ(atrajPutRow(&f, row), 0) << amatMessage;
    EXPECT_EQ(matrixNames(path, "Atrajectory").back(), "data_2(2,2)");
    // Without the class check the stored (transposed) sizes show.
    EXPECT_EQ(matrixNames(path, "NoClass").back(), "data_2(2,2)");
    ASSERT_EQ(atrajPutClose(&f, &s.traj, 1), 0) << amatMessage;
    EXPECT_EQ(f.fp, nullptr);
    EXPECT_STREQ(s.traj.data[0].name, "data_1"); // contents released, name kept
    EXPECT_EQ(s.traj.data[0].data, nullptr);

    AmatGetFile g;
    ASSERT_EQ(amatGetOpen(path.c_str(), "Atrajectory", "1.1", &g), 0) << amatMessage;
    EXPECT_EQ(g.binTrans, 1);
    AmatMatrix m;
    amatInitMatrix(&m);
    for (int k = 0; k < 5; ++k) {
        amatFreeMatrix(&m);
        ASSERT_EQ(amatGetNextMatrix(&g, &m), 0) << amatMessage;
    }
    EXPECT_EQ(element(m, 1, 0), 0.5);
    EXPECT_EQ(element(m, 1, 1), 2.0);
    amatFreeMatrix(&m);
    amatGetClose(&g);
}

TEST(Atraj, WholeTextFileCommentsDataInfo) {
    const std::string path = tempPath("whole.txt");
    TwoSignals s;
    float* second = static_cast<float*>(calloc(2, sizeof(float)));
    amatSetMatrix(s.traj.data[1].name, 1, 2, realMatrix, second, &s.traj.data[1]);
    AmatPutFile f;
    ASSERT_EQ(atrajPutOpen(path.c_str(), &s.traj, -1, amatTextFormat, &f), 0) << amatMessage;
    EXPECT_EQ(f.fp, nullptr);
    const std::string text = readFile(path);
    const size_t comment = text.find("\n# Matrix with 4 columns defining the data of the signals:\n");
    const size_t declaration = text.find("int dataInfo(2,4)\n");
    ASSERT_NE(comment, std::string::npos);
    ASSERT_NE(declaration, std::string::npos);
    EXPECT_LT(comment, declaration);
    EXPECT_NE(text.find("   # time\n", declaration), std::string::npos);
    EXPECT_NE(text.find("   # y\n", declaration), std::string::npos);
    EXPECT_EQ(matrixNames(path, "Atrajectory").back(), "data_2(1,2)");
}

TEST(Atraj, CloseRefusesRowIndicesOutsideTheData) {
    for (int rowIndex : {-1, 2}) {
        const std::string path = tempPath("bad.mat");
        TwoSignals s;
        AmatPutFile f;
        ASSERT_EQ(atrajPutOpen(path.c_str(), &s.traj, 1, amatBinaryFormat, &f), 0) << amatMessage;
        EXPECT_EQ(atrajPutClose(&f, &s.traj, rowIndex), 1);
        EXPECT_EQ(std::string(amatMessage),
                  "Input argument rowIndex=" + std::to_string(rowIndex) +
                      " of function atrajPutClose must be >= 0 and < nData (=2).\n");
        EXPECT_EQ(f.fp, nullptr);
    }
}
