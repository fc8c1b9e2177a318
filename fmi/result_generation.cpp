// Internal result generation: an instance whose switch is on writes its own
// trajectory result file. Sampled points are held in a ring of up to 384
// points, because a host may restore an earlier FMU state and repeat a
// stretch of time; the ring is rolled back when time goes backwards and
// written to the file 64 points at a time when it is full, or completely when
// the host promises not to go back. A failure of the file writer never ends
// the process: it is logged as a Warning, the file is finished as far as it
// was written and result generation switches itself off.
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <initializer_list>

#include "atraj.h"
#include "evaluate.h"
#include "locale_c.h"
#include "result_switch.h"

static_assert(offsetof(ModelInstance, resultGeneration) == kResultGenerationSwitchOffset,
              "result_switch.h knows where the switch is");

namespace {

enum { kRingSize = 384, kRingBlock = 64, kPathLimit = 255, kKinds = 6, kWriterMessageSize = 600 };

const char kPrefix[] = "Result generation:";

struct ResultPoint {
    double time;
    double* values[kKinds]; // copies of p, x, xdot, y, u, w
};

// The file writer, driven by phase codes.
struct ResultWriter {
    const char* path;  // "dsres.mat", then the instance's own path (pathCopy)
    char* pathCopy;    // from the host's allocateMemory
    Atrajectory traj;
    AmatPutFile file;
    int32_t nParameters, nVariables, nAliases; // variables the model declared for the file
    float* row;        // the "data_2" row being written
    int32_t open;
    int32_t phase;
    char message[kWriterMessageSize]; // why the last phase failed
};

} // namespace

struct ResultBuffer {
    ResultWriter writer;
    double lastStoredTime;
    double lastFlushedTime;
    double lastWarnedTime;
    ResultPoint* ring[kRingSize];
    int32_t allocated; // entries whose value arrays exist (a multiple of 64)
    int32_t ringStart; // oldest buffered point
    int32_t ringEnd;   // next free slot
    int32_t count;
    int32_t warned;
    uint64_t outputCounter;
};

namespace {

void* allocate(ModelInstance* instance, size_t n, size_t size) {
    return instance->functions->allocateMemory(n, size);
}
void release(ModelInstance* instance, void* p) {
    if (p) instance->functions->freeMemory(p);
}

uint64_t kindSize(const ModelInstance* instance, int kind) {
    const uint64_t sizes[kKinds] = {instance->np, instance->nx, instance->nx, instance->ny, instance->nu, instance->nw};
    return sizes[kind];
}
const double* kindValues(const ModelInstance* instance, int kind) {
    const double* values[kKinds] = {instance->p, instance->x, instance->xdot, instance->y, instance->u, instance->w};
    return values[kind];
}

int fail(ResultWriter* writer, const char* format, const char* text = "") {
    snprintf_C(writer->message, sizeof writer->message, format, text);
    return 1;
}

char* heapCopy(const char* text) {
    const size_t n = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(n));
    if (copy) memcpy(copy, text, n);
    return copy;
}

// The "name" and "description" rows and "dataInfo" of the trajectory: one
// row for the time and one for every declared variable.
int setUpSignals(ResultWriter* w) {
    Atrajectory& traj = w->traj;
    if (atrajInit(&traj, 2, atrajFloat) != 0) return fail(w, "Out of memory");
    const int32_t n = 1 + w->nParameters + w->nVariables + w->nAliases;
    char** names = static_cast<char**>(calloc(static_cast<size_t>(n), sizeof(char*)));
    char** descriptions = static_cast<char**>(calloc(static_cast<size_t>(n), sizeof(char*)));
    int32_t* info = static_cast<int32_t*>(calloc(static_cast<size_t>(n) * 4, sizeof(int32_t)));
    float* first = static_cast<float*>(calloc(2 * static_cast<size_t>(w->nParameters + 1), sizeof(float)));
    // The records own what they point to from here on, so atrajFree
    // releases it on every path.
    amatSetMatrix(traj.name.name, n, 0, charMatrix, names, &traj.name);
    amatSetMatrix(traj.description.name, n, 0, charMatrix, descriptions, &traj.description);
    amatSetMatrix(traj.info.name, n, 4, integerMatrix, info, &traj.info);
    amatSetMatrix(traj.data[0].name, 2, w->nParameters + 1, realMatrix, first, &traj.data[0]);
    amatSetMatrix(traj.data[1].name, 0, w->nVariables + 1, realMatrix, nullptr, &traj.data[1]);
    if (!names || !descriptions || !info || !first) return fail(w, "Out of memory");
    return 0;
}

// One step of the file writer; 0, or 1 with the reason in writer->message.
int resultWriterPhase(int phase, ResultWriter* w, double time, double epsilon) {
    w->phase = phase;
    Atrajectory& traj = w->traj;
    switch (phase) {
    case 11:
        memset(w, 0, sizeof *w);
        w->phase = phase;
        return 0;
    case 1:
        w->path = "dsres.mat";
        w->nParameters = w->nVariables = w->nAliases = 0;
        w->row = static_cast<float*>(calloc(static_cast<size_t>(w->nVariables + 1), sizeof(float)));
        return w->row ? 0 : fail(w, "Out of memory");
    case 2:
        return setUpSignals(w);
    case 3: {
        char** names = static_cast<char**>(traj.name.data);
        char** descriptions = static_cast<char**>(traj.description.data);
        names[0] = heapCopy("Time");
        descriptions[0] = heapCopy("Time in seconds");
        int32_t* info = static_cast<int32_t*>(traj.info.data);
        const int32_t n = traj.info.nrow;
        info[0] = 0;
        info[n] = 1;
        info[2 * n] = 0;
        info[3 * n] = -1;
        return names[0] && descriptions[0] ? 0 : fail(w, "Out of memory");
    }
    case 4: {
        char** names = static_cast<char**>(traj.name.data);
        for (int32_t i = 0; i < traj.name.nrow; ++i)
            if (!names[i]) return fail(w, "Internal error");
        return 0;
    }
    case 5:
        static_cast<float*>(traj.data[0].data)[0] = static_cast<float>(time);
        return 0;
    case 6:
        static_cast<float*>(traj.data[0].data)[1] = static_cast<float>(epsilon);
        if (!w->path) return fail(w, "Result file path is NULL");
        if (atrajPutOpen(w->path, &traj, 1, amatBinaryFormat, &w->file) != 0) {
            fail(w, "Failed to open result %s", w->path);
            const size_t used = strlen(w->message);
            snprintf_C(w->message + used, sizeof w->message - used, ": %.400s", amatMessage);
            return 1;
        }
        w->open = 1;
        return 0;
    case 7:
        w->row[0] = static_cast<float>(time);
        return 0;
    case 8:
        if (atrajPutRow(&w->file, w->row) != 0) return fail(w, "Failed to write result: %.400s", amatMessage);
        return 0;
    case 9: {
        int status = 0;
        if (w->open && atrajPutClose(&w->file, &traj, 1) != 0)
            status = fail(w, "Failed to close result: %.400s", amatMessage);
        w->open = 0;
        atrajFree(&traj);
        free(w->row);
        w->row = nullptr;
        return status;
    }
    default:
        return fail(w, "Internal error");
    }
}

// Frees every point, the path copy and the buffer; the file must be closed.
void freeResultBuffer(ModelInstance* instance) {
    ResultBuffer* b = instance->resultBuffer;
    for (ResultPoint* point : b->ring) {
        if (!point) continue;
        for (double* values : point->values) release(instance, values);
        release(instance, point);
    }
    release(instance, b->writer.pathCopy);
    release(instance, b);
    instance->resultBuffer = nullptr;
}

// Finishes the file as far as it was written and frees the buffer.
void closeResultFile(ModelInstance* instance) {
    ResultBuffer* b = instance->resultBuffer;
    if (resultWriterPhase(9, &b->writer, instance->time, 1e-9) != 0)
        LOG_INSTANCE(instance, fmi2Warning, "%s %s", kPrefix, b->writer.message);
    freeResultBuffer(instance);
}

// The writer failed: log why, finish the file as far as it was written and
// switch result generation off.
void abandonResultGeneration(ModelInstance* instance, const char* reason) {
    if (!instance->resultBuffer) return;
    LOG_INSTANCE(instance, fmi2Warning, "%s %s; result generation is switched off", kPrefix, reason);
    closeResultFile(instance);
    instance->resultGeneration = 0;
}

// Runs the phases in order; false after abandoning result generation.
bool runPhases(ModelInstance* instance, std::initializer_list<int> phases, double time) {
    ResultWriter* w = &instance->resultBuffer->writer;
    for (int phase : phases)
        if (resultWriterPhase(phase, w, time, 1e-9) != 0) {
            char reason[kWriterMessageSize];
            memcpy(reason, w->message, sizeof reason);
            abandonResultGeneration(instance, reason);
            return false;
        }
    return true;
}

int32_t slot(const ResultBuffer* b, int32_t i) { return (b->ringStart + i) % b->allocated; }
ResultPoint* newest(const ResultBuffer* b) { return b->ring[slot(b, b->count - 1)]; }

// Writes the n oldest points; false after abandoning result generation.
bool writeOldest(ModelInstance* instance, int32_t n) {
    ResultBuffer* b = instance->resultBuffer;
    for (int32_t i = 0; i < n; ++i) {
        const ResultPoint* point = b->ring[slot(b, i)];
        if (!runPhases(instance, {7, 8}, point->time)) return false;
    }
    b->lastFlushedTime = b->ring[slot(b, n - 1)]->time;
    b->ringStart = slot(b, n);
    b->count -= n;
    return true;
}

bool flushOldestResults(ModelInstance* instance) {
    ResultBuffer* b = instance->resultBuffer;
    return b->count == 0 || writeOldest(instance, std::min<int32_t>(kRingBlock, b->count));
}

// Value arrays for the next 64 entries. The ring wraps at the allocated
// count, so it is first turned to begin at entry 0: the new entries then
// follow its newest point.
bool extendResultBuffer(ModelInstance* instance) {
    ResultBuffer* b = instance->resultBuffer;
    if (b->allocated > 0 && b->ringStart != 0) {
        std::rotate(b->ring, b->ring + b->ringStart, b->ring + b->allocated);
        b->ringStart = 0;
        // The free slot moved with the rotation; it must follow the newest
        // point even when the extension below fails.
        b->ringEnd = slot(b, b->count);
    }
    const int32_t first = b->allocated;
    for (int32_t e = first; e < first + kRingBlock; ++e) {
        ResultPoint* point = b->ring[e];
        for (int kind = 0; kind < kKinds; ++kind) {
            const uint64_t n = std::max<uint64_t>(kindSize(instance, kind), 1);
            point->values[kind] = static_cast<double*>(allocate(instance, n, sizeof(double)));
            if (point->values[kind]) continue;
            for (int32_t k = first; k <= e; ++k)
                for (double*& values : b->ring[k]->values) {
                    release(instance, values);
                    values = nullptr;
                }
            return false;
        }
    }
    b->allocated = first + kRingBlock;
    b->ringEnd = slot(b, b->count);
    return true;
}

void storeResultPoint(ModelInstance* instance) {
    ResultBuffer* b = instance->resultBuffer;
    ResultPoint* point = b->ring[b->ringEnd];
    point->time = instance->time;
    for (int kind = 0; kind < kKinds; ++kind) {
        const uint64_t n = kindSize(instance, kind);
        if (n > 0) memcpy(point->values[kind], kindValues(instance, kind), n * sizeof(double));
    }
    b->count += 1;
    b->ringEnd = slot(b, b->count);
    b->lastStoredTime = instance->time;
}

// Drops the buffered points after t (and the newest one in any case).
void rollBack(ResultBuffer* b, double t) {
    b->count -= 1;
    while (b->count > 0 && newest(b)->time > t) b->count -= 1;
    b->lastStoredTime = b->count > 0 ? newest(b)->time : -1;
    b->ringEnd = slot(b, b->count);
}

// Co-Simulation output points: the next multiple of the output interval after
// t; without an interval there are none.
void advanceOutputTime(ModelInstance* instance, ResultBuffer* b, double t) {
    const double interval = instance->timeData[kTimeOutputInterval];
    if (!(interval > 0)) {
        b->outputCounter += 1;
        instance->nextOutputTime = 1e100;
        return;
    }
    do {
        b->outputCounter += 1;
        instance->nextOutputTime = static_cast<double>(b->outputCounter) * interval;
    } while (instance->nextOutputTime <= t);
}

// Makes room for one more point; false after abandoning result generation.
bool makeRoom(ModelInstance* instance, double t) {
    ResultBuffer* b = instance->resultBuffer;
    if (b->count < b->allocated) return true;
    if (b->allocated == kRingSize) {
        if (instance->fmuType == fmi2CoSimulation && !b->warned) {
            LOG_INSTANCE(instance, fmi2Warning,
                         "%s: buffer full at t = %.4f, forcing file output for interval t = %.4f ... %.4f. To avoid "
                         "this for FMI 2, set SetFMUStatePriorToCurrentPoint = fmiTrue in fmiDoStep. Will not warn "
                         "about this again.",
                         kPrefix, t, b->ring[slot(b, 0)]->time, b->ring[slot(b, kRingBlock - 1)]->time);
            b->warned = 1;
        }
        return flushOldestResults(instance);
    }
    if (extendResultBuffer(instance)) return true;
    LOG_INSTANCE(instance, fmi2Warning,
                 "%s: buffer extension failed at t = %.4f, forcing file output for interval t = %.4f ... %.4f",
                 kPrefix, t, b->ring[0]->time, newest(b)->time);
    return flushOldestResults(instance);
}

void sample(ModelInstance* instance, int force) {
    ResultBuffer* b = instance->resultBuffer;
    const double t = instance->time;
    if (t < b->lastFlushedTime || (t == b->lastFlushedTime && !force)) {
        if (b->lastFlushedTime > b->lastWarnedTime) {
            LOG_INSTANCE(instance, fmi2Warning, "%s: duplicate sample point at t = %.4f (and others at t < %f) neglected.",
                         kPrefix, t, b->lastFlushedTime);
            b->lastWarnedTime = b->lastFlushedTime;
        }
        return;
    }
    if (b->count > 0 && t < b->lastStoredTime) rollBack(b, t);
    if (instance->fmuType == fmi2CoSimulation) {
        if (t >= instance->nextOutputTime)
            advanceOutputTime(instance, b, t);
        else if (!force)
            return;
    } else if (!force && b->lastStoredTime >= 0 &&
               t - b->lastStoredTime < 0.1 * instance->timeData[kTimeOutputInterval]) {
        return;
    }
    if (makeRoom(instance, t)) storeResultPoint(instance);
}

bool isSpecial(char c) { return strchr(" \"()*,./:;<=>?[\\]|", c) != nullptr; }

// "<instance name>_internal.mat" with special characters replaced by '_',
// numbered for the second and later set-ups of a process.
void resultPath(const ModelInstance* instance, int setups, char (&path)[kPathLimit + 1]) {
    char suffix[32];
    if (instance->modelData && setups != 0)
        snprintf_C(suffix, sizeof suffix, "%d.mat", setups + 1);
    else
        snprintf_C(suffix, sizeof suffix, ".mat");
    const char* name = instance->instanceName ? instance->instanceName : "";
    char base[kPathLimit + 1];
    if (name[0] == '\0')
        snprintf_C(base, sizeof base, "dres_internal");
    else
        snprintf_C(base, sizeof base, "%s_internal", name);
    const size_t room = kPathLimit - strlen(suffix);
    if (strlen(base) > room) base[room] = '\0';
    for (char* p = base; *p; ++p)
        if (isSpecial(*p)) *p = '_';
    snprintf_C(path, sizeof path, "%s%s", base, suffix);
}

int setupCount = 0;

} // namespace

extern "C" {

void setupResultGeneration(ModelInstance* instance) {
    // A second set-up of one simulation first finishes the file of the first.
    if (instance->resultBuffer) finishResultGeneration(instance);
    const int setups = setupCount++;
    LOG_INSTANCE(instance, fmi2OK, "Setting up result generation");
    ResultBuffer* b = static_cast<ResultBuffer*>(allocate(instance, 1, sizeof(ResultBuffer)));
    instance->resultBuffer = b;
    bool ok = b != nullptr;
    for (int i = 0; ok && i < kRingSize; ++i) {
        b->ring[i] = static_cast<ResultPoint*>(allocate(instance, 1, sizeof(ResultPoint)));
        ok = b->ring[i] != nullptr;
    }
    if (ok) ok = extendResultBuffer(instance);
    if (!ok) {
        LOG_INSTANCE(instance, fmi2Warning, "Failed to setup result generation, skipping it");
        if (b) freeResultBuffer(instance);
        instance->resultBuffer = nullptr;
        instance->resultGeneration = 0;
        return;
    }
    if (!runPhases(instance, {11, 1, 2}, instance->time)) return;
    char path[kPathLimit + 1];
    resultPath(instance, setups, path);
    b->writer.pathCopy = static_cast<char*>(allocate(instance, strlen(path) + 1, 1));
    if (!b->writer.pathCopy) {
        // Nothing was sampled and the file is not open yet: only the
        // writer's memory and the buffer are released.
        LOG_INSTANCE(instance, fmi2Warning, "Failed to setup result generation, skipping it");
        closeResultFile(instance);
        instance->resultGeneration = 0;
        return;
    }
    memcpy(b->writer.pathCopy, path, strlen(path) + 1);
    b->writer.path = b->writer.pathCopy;
    if (!runPhases(instance, {3, 4, 5, 6}, instance->time)) return;
    b->outputCounter = 0;
    b->lastWarnedTime = b->lastFlushedTime = b->lastStoredTime = -1;
    instance->nextOutputTime = instance->time;
    sample(instance, 0);
}

void sampleResult(ModelInstance* instance, int force) {
    if (instance->resultGeneration == 1 && instance->resultBuffer) sample(instance, force);
}

void flushResultBuffer(ModelInstance* instance) {
    ResultBuffer* b = instance->resultBuffer;
    if (!b || b->count == 0) return;
    if (!writeOldest(instance, b->count)) return;
    b->ringStart = b->ringEnd = 0;
}

void finishResultGeneration(ModelInstance* instance) {
    ResultBuffer* b = instance->resultBuffer;
    if (!b) return;
    // The last point is forced: a Co-Simulation without output interval
    // would otherwise end its file at the last event.
    if (instance->time > b->lastStoredTime) {
        b->lastStoredTime = -1;
        sample(instance, 1);
    }
    flushResultBuffer(instance);
    if (instance->resultBuffer) closeResultFile(instance);
}

} // extern "C"
