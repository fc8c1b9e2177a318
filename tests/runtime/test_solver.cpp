// The dense linear-system solver: LU with its condition test, the minimum-norm
// QR path with rank revision and residual test, the reports, and the machine
// parameters and argument handler that the linked LAPACK routines use.
#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "linear_solver.h"
#include "runtime_fixture.h"

extern "C" {
void dlaic1_(const int* job, const int* j, const double* x, const double* sest, const double* w, const double* gamma,
             double* sestpr, double* s, double* c);
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
double dlange_(const char* norm, const int* m, const int* n, const double* a, const int* lda, double* work, size_t);
void dgecon_(const char* norm, const int* n, const double* a, const int* lda, const double* anorm, double* rcond,
             double* work, int* iwork, int* info, size_t);
}

namespace {

// Lines written by the solver's report (unit 1) through the typed sink.
std::string reportText;
int captureReport(int, const char* text) {
    reportText += text;
    return 0;
}

// One system with its work arrays, solved through the full interface.
struct System {
    int n;
    std::vector<double> A; // column-major, lda = n
    std::vector<double> work;
    std::vector<int> iwork;
    int state = 0;
    int error = -1;

    System(int size, std::initializer_list<double> rowMajor) : n(size), A(size * size), work(size * size + 6 * size),
                                                               iwork(2 * size + 1) {
        auto it = rowMajor.begin();
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) A[i + j * n] = *it++;
    }
    int mark(int i) const { return iwork[n + 1 + i]; }
    int rank() const { return iwork[n]; }
    void solve(int mode, std::vector<double>& b, const double* previous = nullptr, const char* const* names = nullptr,
               const int* options = nullptr, int eventFlag = 0, int flagsWord = 0, const char* systemName = nullptr) {
        const int number = 7;
        const double time = 2.5;
        solveLinearSystem(&number, &mode, A.data(), &n, &n, b.data(), previous, &time, &eventFlag, &flagsWord,
                          work.data(), iwork.data(), &state, names, &error, options, nullptr, systemName);
    }
};

class Solver : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        enterModelCall();
        reportText.clear();
        runtimeGlobals.messageCallback = captureReport;
    }
    void TearDown() override {
        runtimeGlobals.messageCallback = nullptr;
        RuntimeTest::TearDown();
    }
};

TEST_F(Solver, RegularSystemByLUAndReusedFactors) {
    System s(3, {4, -2, 1, -2, 4, -2, 1, -2, 4});
    std::vector<double> b = {11, -16, 17}; // x = (1, -2, 3)
    s.solve(0, b);
    EXPECT_EQ(s.error, 0);
    EXPECT_EQ(s.state & (kSolverLU | kSolverQR), kSolverLU);
    EXPECT_NEAR(b[0], 1, 1e-14);
    EXPECT_NEAR(b[1], -2, 1e-14);
    EXPECT_NEAR(b[2], 3, 1e-14);

    // The kept state reuses the factors for a further right side; A is untouched.
    std::vector<double> A = s.A;
    std::vector<double> c = {4, -2, 1}; // first column: x = e1
    s.solve(0, c);
    EXPECT_NEAR(c[0], 1, 1e-14);
    EXPECT_NEAR(c[1], 0, 1e-14);
    EXPECT_NEAR(c[2], 0, 1e-14);
    EXPECT_EQ(s.A, A);
    EXPECT_TRUE(host().log.empty());
    EXPECT_EQ(reportText, "");
}

TEST_F(Solver, ModeThreeSolvesARegularSystemByFullRankQR) {
    System s(3, {1e3, 2, 0, 3, 1e-3, 1, 0, 5, 7});
    std::vector<double> x = {1, -1, 2};
    std::vector<double> b(3, 0.0);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) b[i] += s.A[i + j * 3] * x[j];
    for (int pass = 0; pass < 2; ++pass) { // the second pass reuses the QR factors
        std::vector<double> rhs = b;
        s.solve(3, rhs);
        EXPECT_EQ(s.error, 0);
        EXPECT_TRUE(s.state & kSolverQR);
        EXPECT_EQ(s.rank(), 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(rhs[i], x[i], 1e-12);
            EXPECT_EQ(s.mark(i), 0);
        }
    }
    EXPECT_TRUE(host().log.empty());
    EXPECT_EQ(reportText, "");
}

TEST_F(Solver, EquilibrationThatScalesColumnsScalesTheSolutionBack) {
    // Column scales 1 and 5000, rows unscaled: solved for y = x / c, x = c y.
    for (int mode : {2, 3}) { // LU and QR, each after equilibration
        System s(2, {1, 1e-4, 1, 2e-4});
        std::vector<double> b = {2, 3}; // x = (1, 1e4)
        s.solve(mode, b);
        EXPECT_EQ(s.error, 0) << mode;
        EXPECT_EQ(s.state & (kSolverRowsScaled | kSolverColumnsScaled), kSolverColumnsScaled) << mode;
        EXPECT_NEAR(b[0], 1, 1e-9) << mode;
        EXPECT_NEAR(b[1], 1e4, 1e-7) << mode;
    }
}

TEST_F(Solver, ColumnPivotingInACycleOfThreeIsUndone) {
    // Columns of norms 2, sqrt 2 and 3, the second their combination: the
    // pivoting takes columns 3, 1, 2, and column 2 cannot be computed.
    System s(3, {0, 1, 3, 2, 1, 0, 0, 0, 0});
    std::vector<double> b = {11, 6, 0}; // x = (2, 2, 3), orthogonal to the null space (3, -6, 2)
    s.solve(1, b);
    EXPECT_EQ(s.error, 0);
    EXPECT_EQ(s.rank(), 2);
    EXPECT_EQ(std::vector<int>(s.iwork.begin(), s.iwork.begin() + 3), (std::vector<int>{3, 1, 2}));
    const double x[3] = {2, 2, 3};
    const int marks[3] = {0, 1, 0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(b[i], x[i], 1e-13) << i;
        EXPECT_EQ(s.mark(i), marks[i]) << i;
    }
}

TEST_F(Solver, ConsistentSingularSystemGivesMinimumNormCorrection) {
    const char* const names[2] = {"a.x", "a.y"};
    for (int reported = 0; reported < 2; ++reported) {
        System s(2, {1, 2, 2, 4});
        std::vector<double> b = {1, 2};
        const double previous[2] = {1, 1};
        reportText.clear();
        s.solve(3, b, previous, names, nullptr, 1, reported ? 0x1000 : 0);
        EXPECT_EQ(s.error, 0);
        EXPECT_EQ(s.rank(), 1);
        // The least-norm correction of (1, 1) solving x + 2y = 1.
        EXPECT_NEAR(b[0], 0.6, 1e-14);
        EXPECT_NEAR(b[1], 0.2, 1e-14);
        EXPECT_EQ(s.mark(0), 1) << "the column of smaller norm is the one that cannot be computed";
        EXPECT_EQ(s.mark(1), 0);
        if (reported)
            EXPECT_EQ(reportText, "... System of equations is singular at Time = 2.5\n"
                                  "...    Linear system of equations number = 7\n"
                                  "... Variables which cannot be uniquely computed:\n"
                                  "a.x = 0.6\n"
                                  "... Simulation continues with minimum norm solution.\n");
        else
            EXPECT_EQ(reportText, "") << "reported only during events with bit 0x1000";
    }
    EXPECT_TRUE(host().log.empty());
}

TEST_F(Solver, InconsistentSystemIsRevisedOnceThenRejected) {
    // Singular values 1, 1e-12 and 0: rank 1 by the tolerance, 2 by machine precision.
    System s(3, {1, 0, 0, 0, 1e-12, 0, 0, 0, 0});
    std::vector<double> b = {1, 1, 1};
    const std::string longName(150, 'v');
    const char* const names[3] = {"p", "q", longName.c_str()};
    s.solve(1, b, nullptr, names, nullptr, 0, 0, "simulation.linear[2]");
    EXPECT_EQ(s.error, 1);
    EXPECT_EQ(s.rank(), 2) << "revised to the rank by machine precision";
    EXPECT_NEAR(b[1], 1e12, 1e-3);
    // Only the second pass reports: with rank 1 component 2 would be off as well.
    EXPECT_EQ(host().logText(), "OK|rt|Residual component 3 of system 7 is 1.000000e+00\n");
    EXPECT_EQ(reportText, "LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 2.5\n"
                          "...    Linear system of equations: simulation.linear[2]\n"
                          "... Variables which cannot be uniquely computed:\n" +
                              std::string(140, 'v') + "... = 0\n"
                              "... NOT ACCEPTING SINCE TOO LARGE RESDIUAL\n");

    // options[2] keeps the bad residual from failing the solve.
    System kept(3, {1, 0, 0, 0, 1e-12, 0, 0, 0, 0});
    std::vector<double> c = {1, 1, 1};
    const int options[3] = {0, 0, 1};
    reportText.clear();
    kept.solve(1, c, nullptr, nullptr, options);
    EXPECT_EQ(kept.error, 0);
    EXPECT_EQ(reportText, "");
}

TEST_F(Solver, ZeroMatrixMarksEverythingAndIgnoresThePreviousSolution) {
    System s(3, {0, 0, 0, 0, 0, 0, 0, 0, 0});
    std::vector<double> b = {1, 2, 3};
    const double previous[3] = {5, 6, 7};
    s.solve(3, b, previous, nullptr, nullptr, 1, 0x1000);
    EXPECT_EQ(s.error, 0);
    EXPECT_EQ(s.rank(), 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(b[i], 0.0);
        EXPECT_EQ(s.mark(i), 1);
    }
    EXPECT_EQ(reportText, "... System of equations is singular at Time = 2.5\n"
                          "...    Linear system of equations number = 7\n"
                          "...    Variables X(i) which cannot be uniquely computed:\n"
                          "... Simulation continues with minimum norm solution.\n");
    EXPECT_EQ(host().logText(), "OK|rt|... 1\nOK|rt|... 2\nOK|rt|... 3\n") << "the component list goes to unit 0";
}

TEST_F(Solver, ConditionTestUsesTheNormOfTheMatrixNotOfItsFactors) {
    // ||A||_1 is twice the 1-norm of the LU array, which puts the estimate on
    // either side of the tolerance 1e7 * 2^-52.
    System s(2, {1, 1000, 1, 1000.003});
    const int n = 2;
    std::vector<double> lu = s.A;
    std::vector<double> work(8);
    int ipiv[2], iw[2], info = 0;
    const double matrixNorm = dlange_("1", &n, &n, lu.data(), &n, work.data(), 1);
    dgetrf_(&n, &n, lu.data(), &n, ipiv, &info);
    const double factorNorm = dlange_("1", &n, &n, lu.data(), &n, work.data(), 1);
    double rcondMatrix = 0, rcondFactors = 0;
    dgecon_("1", &n, lu.data(), &n, &matrixNorm, &rcondMatrix, work.data(), iw, &info, 1);
    dgecon_("1", &n, lu.data(), &n, &factorNorm, &rcondFactors, work.data(), iw, &info, 1);
    const double tol = 1e7 * 2.220446049250313e-16;
    ASSERT_LT(rcondMatrix, tol);
    ASSERT_GT(rcondFactors, tol);

    std::vector<double> b = {1001, 1001.003};
    s.solve(0, b);
    EXPECT_EQ(s.state & (kSolverLU | kSolverQR), kSolverQR);
    EXPECT_EQ(s.error, 0);
    EXPECT_EQ(s.rank(), 2) << "rank 1 leaves a residual, so the rank is revised to full";
    EXPECT_NEAR(b[0], 1, 1e-6);
    EXPECT_NEAR(b[1], 1, 1e-6);

    // The larger tolerance of options[0] goes the same way; a better
    // conditioned matrix passes the default test but not the larger one.
    System t(2, {1, 1, 1, 1 + 1e-6});
    std::vector<double> c = {2, 2 + 1e-6};
    t.solve(0, c);
    EXPECT_EQ(t.state & (kSolverLU | kSolverQR), kSolverLU);
    const int options[3] = {1, 0, 0};
    t.state = 0;
    c = {2, 2 + 1e-6};
    t.solve(0, c, nullptr, nullptr, options);
    EXPECT_EQ(t.state & (kSolverLU | kSolverQR), kSolverQR);
    EXPECT_EQ(t.error, 0);
}

TEST_F(Solver, NonFiniteRightSideAndSolutionAreReported) {
    System s(2, {2, 0, 0, 4});
    std::vector<double> b = {NAN, 4};
    const char* const names[2] = {"r.a", "r.b"};
    s.solve(0, b, nullptr, names);
    EXPECT_EQ(s.error, 1);
    // The NaN reaches the second component too (0 * NaN in the substitution).
    EXPECT_EQ(host().logText(), "OK|rt|Rhs component 1 of system 7 is nan\n"
                                "OK|rt|In system 7 r.a = nan\n"
                                "OK|rt|In system 7 r.b = nan\n");
    EXPECT_EQ(reportText, "LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 2.5\n"
                          "...    Linear system of equations number = 7\n"
                          "... Variables which cannot be uniquely computed:\n"
                          "... NOT ACCEPTING SINCE TOO LARGE RESDIUAL\n");
    host().clearLog();

    System plain(2, {2, 0, 0, 4});
    std::vector<double> c = {1, INFINITY};
    int number = 3, mode = 0, n = 2, eventFlag = 0, state = 0, error = 0;
    double time = 0;
    plain.solve(0, c); // through the full interface without names
    EXPECT_TRUE(host().logContains("Solution component 2 of system 7 is inf"));
    c = {2, 8};
    solveLinearSystemPlain(&number, &mode, plain.A.data(), &n, &n, c.data(), &time, &eventFlag, nullptr,
                           plain.work.data(), plain.iwork.data(), &state, &error);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(c[0], 1.0);
    EXPECT_EQ(c[1], 2.0);
}

TEST(SolverLapack, MachineParametersAreOurs) {
    const struct {
        const char* letter;
        double value;
    } table[] = {{"B", 2},         {"e", 0x1p-52},  {"L", 308},      {"m", -307},       {"N", 53},
                 {"O", 1.7976931348623157e308}, {"p", 0x1p-51}, {"R", 1}, {"S", 0x1p-1022}, {"u", 0x1p-1022},
                 {"X", 0}};
    for (const auto& row : table) EXPECT_EQ(dlamch_(row.letter, 1), row.value) << row.letter;

    // dlaic1 takes a shortcut when |gamma| <= eps * |sest|. A gamma of
    // 1.5 * 2^-53 is below our epsilon (2^-52) but above the reference
    // routine's (2^-53): only with our dlamch does the cosine come out 0.
    const int job = 1, j = 1;
    const double x = 1, sest = 1, w = 0.5, gamma = 1.5 * 0x1p-53;
    double sestpr = 0, s = 0, c = -1;
    dlaic1_(&job, &j, &x, &sest, &w, &gamma, &sestpr, &s, &c);
    EXPECT_EQ(c, 0.0);
    EXPECT_EQ(s, 1.0);
    EXPECT_DOUBLE_EQ(sestpr, sqrt(1.25));
}

TEST_F(Solver, IllegalLapackArgumentIsReportedAndReturns) {
    int m = 2, n = -1, lda = 2, ipiv[2], info = 0;
    double a[4] = {1, 0, 0, 1};
    dgetrf_(&m, &n, a, &lda, ipiv, &info);
    EXPECT_EQ(info, -2);
    EXPECT_EQ(host().logText(), "OK|rt|On entry to DGETRF parameter number 2 had an illegal value\n");
}

} // namespace
