// The spatialDistribution operator: a transport line of (position, value)
// points held as a ring per operator instance. Stored positions are in the
// transport coordinate c: the inflow end of the line stands at c, the outflow
// end at c + 1; points between the first and the last (wrapping) have
// increasing positions. The rings live in the instance's ModelData.
#include <math.h>

#include "matrixop.h"
#include "runtime.h"

namespace {

enum { kSpatialRows = ATLEAST1(MODEL_NSPATIAL) };

using Ring = SpatialDistributionBuffer;

int succ(const Ring& b, int k) { return k + 1 < b.capacity ? k + 1 : 0; }
int pred(const Ring& b, int k) { return k > 0 ? k - 1 : b.capacity - 1; }

// Offset of a slot from the first point along the ring.
int offset(const Ring& b, int k) { return (k - b.first + b.capacity) % b.capacity; }
bool inRing(const Ring& b, int k) { return offset(b, k) <= offset(b, b.last); }

bool validIndex(const Ring& b, int k) { return k >= 0 && k < b.capacity; }

// The ring of a row, after checking the row and every index kept in the ring,
// so that no access below can leave its storage (a ring may come from a
// restored or deserialized FMU state).
Ring* ringOf(SpatialDistributionBuffer* buffers, int row) {
    RuntimeAssert(buffers != nullptr && row >= 0 && row < kSpatialRows, "0<=row && row<MODEL_NSPATIAL",
                  "spatialDistribution row out of range");
    if (!buffers || row < 0 || row >= kSpatialRows) return nullptr;
    Ring& b = buffers[row];
    if (!b.initialised) return &b;
    const bool sound = b.capacity >= 4 && b.capacity <= kSpatialPoints && validIndex(b, b.first) &&
                       validIndex(b, b.last) && validIndex(b, b.cursor) && offset(b, b.last) >= 2;
    RuntimeAssert(sound, "4<=capacity && capacity<=MODEL_SPATIAL_POINTS && first,last,cursor<capacity",
                  "spatialDistribution buffer is corrupt");
    return sound ? &b : nullptr;
}

double valueAt(const Ring& b, int i, int d, double target) {
    if (target <= b.positions[i]) return b.values[i];
    if (target >= b.positions[d]) return b.values[d];
    return b.values[i] + (b.values[d] - b.values[i]) * (target - b.positions[i]) / (b.positions[d] - b.positions[i]);
}

void evaluate(Ring& b, double in0, double in1, double c, bool positive, double* out0, double* out1) {
    if (!b.initialised) {
        *out0 = in0;
        *out1 = in1;
        return;
    }
    // The value at the outflow end: c + 1 for a positive velocity, c otherwise.
    const double target = positive ? c + 1 : c;
    int d = b.cursor;
    // The search needs a point before it inside the ring.
    if (d == b.first || !inRing(b, d)) d = succ(b, b.first);
    if (positive) {
        while (target > b.positions[d] && d != b.last) d = succ(b, d);
        while (pred(b, d) != b.first && target < b.positions[pred(b, d)]) d = pred(b, d);
    } else {
        while (target >= b.positions[d] && d != b.last) d = succ(b, d);
        while (pred(b, d) != b.first && target <= b.positions[pred(b, d)]) d = pred(b, d);
    }
    b.cursor = d;
    const double value = valueAt(b, pred(b, d), d, target);
    *out0 = positive ? in0 : value;
    *out1 = positive ? value : in1;
}

// A new slot next to the end point is taken from the other end when the ring
// is full, unless the point given up there differs from the new value far
// more than its neighbours do.
bool takeFromOtherEnd(const Ring& b, int slot, int neighbour, int end, double in) {
    const double n = b.capacity;
    return !(fabs(in - b.values[slot]) * 0.7 / n > fabs(in - b.values[neighbour]) + fabs(in - b.values[end]));
}

void insertAtInflow(Ring& b, double c, double in0) {
    const double n = b.capacity;
    int e = b.first;
    int next = succ(b, e);
    if (c > b.positions[e]) {
        // The inflow end moved forward: drop the points it passed.
        while (e != b.last && c > b.positions[next]) {
            if (succ(b, next) == b.last) {
                b.positions[next] = c + 1e-8;
                break;
            }
            if (b.cursor == e) b.cursor = next;
            e = next;
            next = succ(b, e);
        }
    } else if (c < b.positions[e] && fabs(b.positions[next] - c) >= 1.4 / n) {
        const int slot = pred(b, e);
        if (slot != b.last) {
            e = slot;
        } else if (takeFromOtherEnd(b, slot, next, e, in0)) {
            if (b.cursor == b.last) b.cursor = pred(b, b.last);
            b.last = pred(b, b.last);
            e = slot;
        }
    }
    b.first = e;
    b.positions[e] = c;
    b.values[e] = in0;
}

void insertAtOutflow(Ring& b, double c, double in1) {
    const double n = b.capacity;
    const double end = c + 1;
    int e = b.last;
    int previous = pred(b, e);
    if (end < b.positions[e]) {
        // The far end moved back: drop the points it passed.
        while (e != b.first && end < b.positions[previous]) {
            if (pred(b, previous) == b.first) {
                b.positions[previous] = c + 0.999999999;
                break;
            }
            if (b.cursor == e) b.cursor = previous;
            e = previous;
            previous = pred(b, e);
        }
    } else if (end > b.positions[e] && fabs(b.positions[previous] - end) >= 1.4 / n) {
        const int slot = succ(b, e);
        if (slot != b.first) {
            e = slot;
        } else if (takeFromOtherEnd(b, slot, previous, e, in1)) {
            if (b.cursor == b.first) b.cursor = succ(b, b.first);
            b.first = succ(b, b.first);
            e = slot;
        }
    }
    b.last = e;
    b.positions[e] = end;
    b.values[e] = in1;
}

} // namespace

SpatialDistributionBuffer* spatialDistributionBuffers(ModelData* modelData) {
    return (modelData ? modelData : modelDataTemplate())->spatialDistributions;
}

int spatialDistributionFill(SpatialDistributionBuffer* buffers, int row, int capacity, double position,
                            double value) {
    RuntimeAssert(capacity <= kSpatialPoints, "capacity<=MODEL_SPATIAL_POINTS",
                  "spatialDistribution capacity exceeds the model's storage");
    if (capacity > kSpatialPoints) return 0;
    Ring* ring = ringOf(buffers, row);
    if (!ring) return 0;
    Ring& b = *ring;
    // The ring needs its four end points whatever capacity is asked for.
    b.capacity = capacity < 4 ? 4 : capacity;
    const int k = b.capacity / 10;
    int p = 0;
    b.positions[p++] = position;
    b.positions[p++] = position + 1e-9;
    for (int j = 0; j < k; ++j) b.positions[p++] = position + (j + 0.5) / k;
    b.positions[p++] = position + 1 - 1e-9;
    b.positions[p++] = position + 1;
    for (int j = 0; j < p; ++j) b.values[j] = value;
    b.first = 0;
    b.cursor = 1;
    b.last = k + 3;
    b.initialised = 1;
    return 1;
}

int spatialDistributionInit(SpatialDistributionBuffer* buffers, int row, int capacity, double x, double ignored,
                            RealArray initialPoints, RealArray initialValues) {
    (void)ignored;
    RuntimeAssert(initialPoints.ndims == 1, "initialPoints.ndims==1", "Initial Points should be a vector");
    RuntimeAssert(initialValues.ndims == 1, "initialValues.ndims==1", "Initial Values should be a vector");
    RuntimeAssert(initialPoints.dims[0] == initialValues.dims[0], "initialPoints.dims[0]==initialValues.dims[0]",
                  "Initial Points and Values should have size");
    const int n = initialPoints.dims[0];
    if (n <= 0) return spatialDistributionFill(buffers, row, capacity, x, 0.0);
    const double* points = initialPoints.data;
    const double* values = initialValues.data;
    const int result = spatialDistributionFill(buffers, row, capacity, x + points[n - 1], values[n - 1]);
    double out0 = 0;
    double out1 = 0;
    for (int j = n - 2; j >= 0; --j) {
        if (j == 0 && points[0] == 0 && n >= 2 && points[1] > 1e-13)
            spatialDistributionStep(buffers, row, values[j], values[j], x + points[j] + 1e-13, 1, 1, &out0, &out1);
        spatialDistributionStep(buffers, row, values[j], values[j], x + points[j], 1, 1, &out0, &out1);
    }
    return result;
}

void spatialDistributionStep(SpatialDistributionBuffer* buffers, int row, double in0, double in1, double c,
                             int positive, int insert, double* out0, double* out1) {
    double ignored0 = 0;
    double ignored1 = 0;
    if (!out0) out0 = &ignored0;
    if (!out1) out1 = &ignored1;
    *out0 = in0;
    *out1 = in1;
    Ring* ring = ringOf(buffers, row);
    if (!ring) return;
    if (insert && ring->initialised) {
        if (positive)
            insertAtInflow(*ring, c, in0);
        else
            insertAtOutflow(*ring, c, in1);
    }
    evaluate(*ring, in0, in1, c, positive != 0, out0, out1);
}

SpatialDistributionOutputs spatialDistribution(SpatialDistributionBuffer* buffers, int row, double in0, double in1,
                                               double x, int positive, int insert) {
    SpatialDistributionOutputs r{in0, in1};
    spatialDistributionStep(buffers, row, in0, in1, -x, positive, insert, &r.out0, &r.out1);
    return r;
}
