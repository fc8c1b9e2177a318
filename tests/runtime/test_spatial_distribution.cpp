// The spatialDistribution operator against the closed form of a pure
// transport delay, and the checks that keep its ring inside its storage.
#include <math.h>

#include <functional>

#include "test_arrays_support.h"

namespace {

class SpatialDistribution : public ArrayTest {
protected:
    SpatialDistributionBuffer* rings() { return spatialDistributionBuffers(instance()->modelData); }
    // Starts row 0 at transport coordinate 0 with the given profile.
    void start(std::initializer_list<double> points, std::initializer_list<double> values) {
        RealArray p = realVector(points);
        RealArray v = realVector(values);
        ASSERT_EQ(spatialDistributionInit(rings(), 0, 100, 0.0, 0.0, p, v), 1);
    }
    // Moves x along with the velocity and feeds u(t) in at the inflow end;
    // checks the outflow against the expected function of time.
    void run(std::function<double(double)> velocity, std::function<double(double)> u,
             std::function<double(double)> expected, double until) {
        // Steps of 0.02 keep the points 1.4/100 or more apart, so a ring of
        // 100 points spans the whole line.
        const double dt = 0.02;
        double x = 0;
        for (int k = 0; k * dt <= until + 1e-12; ++k) {
            const double t = k * dt;
            if (k > 0) x += velocity(t - dt / 2) * dt;
            const int positive = velocity(t) > 0;
            SpatialDistributionOutputs out = spatialDistribution(rings(), 0, u(t), u(t), x, positive, 1);
            const double outflow = positive ? out.out1 : out.out0;
            ASSERT_NEAR(outflow, expected(t), 1e-9) << "t = " << t;
            EXPECT_EQ(positive ? out.out0 : out.out1, u(t)) << "the inflow end passes its input through";
        }
    }
};

TEST_F(SpatialDistribution, FilledRingsKeepTheirEndPoints) {
    SpatialDistributionBuffer& b = rings()[1];
    ASSERT_EQ(spatialDistributionFill(rings(), 1, 100, 2.0, 7.0), 1);
    EXPECT_EQ(b.first, 0);
    EXPECT_EQ(b.last, 13);
    EXPECT_EQ(b.positions[0], 2.0);
    EXPECT_EQ(b.positions[13], 3.0);
    double out0 = 0, out1 = 0;
    spatialDistributionStep(rings(), 1, 1.0, 1.0, 5.0, 1, 0, &out0, &out1);
    EXPECT_EQ(out1, 7.0) << "beyond the last point its value";
    ASSERT_EQ(spatialDistributionFill(rings(), 1, 2, 0.0, 1.0), 1);
    EXPECT_EQ(b.capacity, 4) << "room for the four end points whatever capacity is asked for";
    EXPECT_EQ(b.last, 3);
}

TEST_F(SpatialDistribution, RowsCapacitiesAndRingIndicesAreChecked) {
    EXPECT_EQ(failure([&] { spatialDistributionFill(rings(), 2, 100, 0, 0); }),
              "0<=row && row<MODEL_NSPATIAL | spatialDistribution row out of range");
    EXPECT_EQ(failure([&] { spatialDistributionFill(rings(), 0, 101, 0, 0); }),
              "capacity<=MODEL_SPATIAL_POINTS | spatialDistribution capacity exceeds the model's storage");
    spatialDistributionFill(rings(), 0, 100, 0, 0);
    rings()[0].cursor = 500; // as a crafted FMU state could leave it
    EXPECT_NE(failure([&] { spatialDistribution(rings(), 0, 1, 1, 0.1, 1, 1); }), "");
    RealArray matrix = realMatrix(1, 2, {0, 1});
    RealArray two = realVector({0, 1});
    RealArray three = realVector({0, 1, 2});
    EXPECT_EQ(failure([&] { spatialDistributionInit(rings(), 0, 100, 0, 0, matrix, two); }),
              "initialPoints.ndims==1 | Initial Points should be a vector");
    EXPECT_EQ(failure([&] { spatialDistributionInit(rings(), 0, 100, 0, 0, two, three); }),
              "initialPoints.dims[0]==initialValues.dims[0] | Initial Points and Values should have size");
}

TEST_F(SpatialDistribution, InitialProfileIsInterpolated) {
    start({0, 0.5, 1}, {1, 2, 3});
    SpatialDistributionOutputs out = spatialDistribution(rings(), 0, 1, 0, 0.0, 1, 1);
    EXPECT_NEAR(out.out1, 3, 1e-9);
    out = spatialDistribution(rings(), 0, 1, 0, 0.25, 1, 1);
    EXPECT_NEAR(out.out1, 2.5, 1e-9);
}

TEST_F(SpatialDistribution, TransportDelayWithPositiveVelocity) {
    start({0, 1}, {0, 0});
    // Velocity 1: what enters at time s leaves at s + 1; the start profile leaves first.
    run([](double) { return 1.0; }, [](double t) { return t; }, [](double t) { return t <= 1 ? 0.0 : t - 1; },
        3.0);
}

TEST_F(SpatialDistribution, TransportDelayWithNegativeVelocity) {
    start({0, 1}, {0, 0});
    // The input enters at the far end and leaves at the inflow end.
    run([](double) { return -1.0; }, [](double t) { return t; }, [](double t) { return t <= 1 ? 0.0 : t - 1; },
        3.0);
}

TEST_F(SpatialDistribution, VelocityReversalSendsTheProfileBack) {
    start({0, 1}, {0, 0});
    // Forward up to the reversal at 0.5, then back: what entered at time s
    // leaves through the inflow end again at 1 - s.
    auto forward = [](double t) { return t <= 0.5 + 1e-9; };
    run([=](double t) { return forward(t) ? 1.0 : -1.0; }, [=](double t) { return forward(t) ? t : 5.0; },
        [=](double t) { return forward(t) ? 0.0 : 1 - t; }, 1.0);
}

TEST_F(SpatialDistribution, RingsBelongToTheModelData) {
    spatialDistributionFill(rings(), 0, 100, 0.0, 4.0);
    fmi2FMUstate state = nullptr;
    ASSERT_EQ(host().api().GetFMUstate(component_, &state), fmi2OK);
    spatialDistributionFill(rings(), 0, 100, 0.0, 9.0);
    ASSERT_EQ(host().api().SetFMUstate(component_, state), fmi2OK);
    EXPECT_EQ(rings()[0].values[5], 4.0) << "an FMU state carries the ring";
    host().api().FreeFMUstate(component_, &state);
    resetModelData(instance()->modelData);
    EXPECT_EQ(rings()[0].initialised, 0);
}

} // namespace
