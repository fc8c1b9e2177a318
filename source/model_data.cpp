// The model's size queries, the ModelData template and its accessors, and the
// shared time-data and flag blocks.
#include <string.h>

#include <mutex>

#include "model_interface.h"
#include "runtime.h"
#include "thread_context.h"

// The global template: every initial value of a new instance's ModelData.
static ModelData makeTemplate() {
    ModelData data;
    memset(&data, 0, sizeof data);
    data.lambda = 1.0;
    data.homotopyStep = 0.1;
    return data;
}
static ModelData globalTemplate = makeTemplate();

ModelData* modelDataTemplate(void) { return &globalTemplate; }

static ModelData* orTemplate(ModelData* modelData) { return modelData ? modelData : &globalTemplate; }

// ---- Size queries ----

static void fill(int* const* out, const int* values, int n) {
    for (int i = 0; i < n; ++i)
        if (out[i]) *out[i] = values[i];
}

void getModelDimensions(int* nx, int* n2, int* nu, int* ny, int* nw, int* np, int* nstr, int* n8, int* nrel, int* n10,
                        int* n11, int* nExtra1, int* nExtra2) {
    static const int values[13] = {MODEL_DIMENSIONS};
    int* const out[13] = {nx, n2, nu, ny, nw, np, nstr, n8, nrel, n10, n11, nExtra1, nExtra2};
    fill(out, values, 13);
}

void getModelSizes(int* nx, int* n2, int* nu, int* ny, int* nw, int* np, int* n7, int* n8, int* n9) {
    static const int values[9] = {MODEL_SIZES};
    int* const out[9] = {nx, n2, nu, ny, nw, np, n7, n8, n9};
    fill(out, values, 9);
}

void getRuntimeSizes(int* nx, int* n2, int* nu, int* ny, int* nw, int* np, int* n7, int* nStepFactorStates, int* nrel,
                     int* n10, int* n11) {
    static const int values[11] = {MODEL_RUNTIME_SIZES};
    int* const out[11] = {nx, n2, nu, ny, nw, np, n7, nStepFactorStates, nrel, n10, n11};
    fill(out, values, 11);
}

void getModelCounts(int* c1, int* c2, int* c3, int* c4, int* c5, int* c6, int* c7, int* c8, int* c9, int* c10) {
    static const int values[10] = {MODEL_COUNTS};
    int* const out[10] = {c1, c2, c3, c4, c5, c6, c7, c8, c9, c10};
    fill(out, values, 10);
}

void getRelationArrays(int* nrel, int** relationEvaluated, int** relationStates, int** relationFlags, int* zero) {
    ModelData* data = activeModelData();
    if (nrel) *nrel = MODEL_NREL;
    if (relationEvaluated) *relationEvaluated = data->relationEvaluated;
    if (relationStates) *relationStates = data->relationStates;
    if (relationFlags) *relationFlags = data->relationFlags;
    if (zero) *zero = 0;
}

int modelCapability(int code) { return code == 2 ? 1 : 0; }

static void declareValues(double* states, double* parameters, double* inputs, char** strings) {
    if (modelTable.modelStartValues) modelTable.modelStartValues(states, parameters, inputs);
    // Start texts of the string variables, for models that have them.
    if (strings && modelTable.stringStartValues)
        for (int i = 0; i < MODEL_NSTR; ++i) strings[i] = const_cast<char*>(modelTable.stringStartValues[i]);
}

void declare_(double* states, double* parameters, double* inputs, char** strings, int* status) {
    declareValues(states, parameters, inputs, strings);
    if (status) *status = 0;
}

// ---- Shared blocks ----

// The process-wide block pointers are those of the instance instantiated
// last; instances are created and freed on any thread, so the pointers are
// only touched under this lock.
static std::mutex modelBlocksLock;

ModelTimeData* getModelTimeData(void) {
    std::lock_guard<std::mutex> guard(modelBlocksLock);
    return runtimeGlobals.timeData;
}

ModelFlags* getModelFlags(void) {
    std::lock_guard<std::mutex> guard(modelBlocksLock);
    return runtimeGlobals.flags;
}

void setModelBlocks(ModelTimeData* timeData, ModelFlags* flags) {
    std::lock_guard<std::mutex> guard(modelBlocksLock);
    runtimeGlobals.timeData = timeData;
    runtimeGlobals.flags = flags;
}

void clearModelBlocks(ModelTimeData* timeData, ModelFlags* flags) {
    std::lock_guard<std::mutex> guard(modelBlocksLock);
    if (runtimeGlobals.timeData == timeData) runtimeGlobals.timeData = nullptr;
    if (runtimeGlobals.flags == flags) runtimeGlobals.flags = nullptr;
}

ModelTimeData* getInstanceTimeData(ModelData* modelData) {
    if (modelData && modelData->timeData) return modelData->timeData;
    return getModelTimeData();
}

ModelFlags* boundModelFlags(void) {
    ThreadContext* c = getThreadContext();
    if (c && c->boundModelData && c->boundModelData->flags) return c->boundModelData->flags;
    return getModelFlags();
}

// ---- Template and accessors ----

void copyModelData(ModelData* destination) {
    if (!destination) return;
    ThreadContext* c = getThreadContext();
    if (c) {
        c->depth = 0;
        c->boundModelData = nullptr;
    }
    memcpy(destination, &globalTemplate, sizeof(ModelData));
}

void getModelDataTemplate(void** address, size_t* size) {
    if (address) *address = &globalTemplate;
    if (size) *size = sizeof(ModelData);
}

size_t modelDataSize(void) { return MODEL_HAS_INSTANCE_DATA ? sizeof(ModelData) : 0; }

int getEventPending(ModelData* modelData) { return orTemplate(modelData)->eventPending; }
EventCode getEventCode(ModelData* modelData) { return static_cast<EventCode>(orTemplate(modelData)->eventCode); }
void setEventCode(ModelData* modelData, EventCode code) { orTemplate(modelData)->eventCode = code; }
void setInlineIntegration(ModelData* modelData, int flag) { orTemplate(modelData)->inlineIntegration = flag; }
void setStatePerturbationFlag(ModelData* modelData, int flag) { orTemplate(modelData)->statePerturbation = flag; }
double initialTime(void) { return activeModelData()->initialTime; }

void setDirectionalDerivativeRequest(ModelData* modelData, double* v1, double* v2, double* v3, double* v4, int c1,
                                     int c2, int c3, size_t s1, size_t s2, size_t s3, int value, int* out) {
    ModelData* d = orTemplate(modelData);
    d->ddVectors[0] = v1;
    d->ddVectors[1] = v2;
    d->ddVectors[2] = v3;
    d->ddVectors[3] = v4;
    d->ddCounts[0] = c1;
    d->ddCounts[1] = c2;
    d->ddCounts[2] = c3;
    d->ddSizes[0] = s1;
    d->ddSizes[1] = s2;
    d->ddSizes[2] = s3;
    d->ddInt = value;
    d->ddOut = out;
    d->ddOutSet = out ? 1 : 0;
    if (out) *out = 0;
}

void registerLinearizationMatrices(ModelData* modelData, double* v1, double* v2, double* v3, double* v4, int c1,
                                   int c2, int c3, size_t s1, size_t s2, size_t s3, int value) {
    setDirectionalDerivativeRequest(modelData, v1, v2, v3, v4, c1, c2, c3, s1, s2, s3, value, nullptr);
}

BlockProfileTimer* blockProfileTimers(ModelData* modelData, int* count) {
    ModelData* d = orTemplate(modelData);
    if (count) *count = d->blockProfileTimerCount;
    return d->blockProfileTimers;
}

void copyExtraVariablesIn(ModelData* modelData, const double* first, const double* second) {
    ModelData* d = orTemplate(modelData);
    if (MODEL_NEXTRA1 > 0 && first) memcpy(d->extraVars1, first, MODEL_NEXTRA1 * sizeof(double));
    if (MODEL_NEXTRA2 > 0 && second) memcpy(d->extraVars2, second, MODEL_NEXTRA2 * sizeof(double));
}

void copyExtraVariablesOut(ModelData* modelData, double* first, double* second) {
    ModelData* d = orTemplate(modelData);
    if (MODEL_NEXTRA1 > 0 && first) memcpy(first, d->extraVars1, MODEL_NEXTRA1 * sizeof(double));
    if (MODEL_NEXTRA2 > 0 && second) memcpy(second, d->extraVars2, MODEL_NEXTRA2 * sizeof(double));
}

static void resetData(ModelData* d) {
    memset(d->workArea, 0, sizeof d->workArea);
    memset(d->relationValues, 0, sizeof d->relationValues);
    memset(d->crossingOutputs, 0, sizeof d->crossingOutputs);
    memset(d->eventEpsilons, 0, sizeof d->eventEpsilons);
    memset(d->relationNominals, 0, sizeof d->relationNominals);
    memset(d->heldValues, 0, sizeof d->heldValues);
    memset(d->previousHeldValues, 0, sizeof d->previousHeldValues);
    memset(d->savedHeldValues, 0, sizeof d->savedHeldValues);
    memset(d->modelHead, 0, sizeof d->modelHead);
    memset(d->modelHeadInts, 0, sizeof d->modelHeadInts);
    memset(d->relationStates, 0, sizeof d->relationStates);
    memset(d->relationEvaluated, 0, sizeof d->relationEvaluated);
    memset(d->relationFlags, 0, sizeof d->relationFlags);
    memset(d->sampleCounters, 0, sizeof d->sampleCounters);
    d->timeEventActive = 0;
    d->timeEventCandidate = 0;
    d->eventTime = EVENT_TIME_UNSET;
    d->eventTime2 = EVENT_TIME_UNSET;
    d->eventTime3 = EVENT_TIME_UNSET;
    d->heldTimeA = EVENT_TIME_UNSET;
    d->heldTimeB = EVENT_TIME_UNSET;
    d->savedHeldTimeA = EVENT_TIME_UNSET;
    d->savedHeldTimeB = EVENT_TIME_UNSET;
    d->previousHeldTimeA = 0.0;
    d->previousHeldTimeB = 0.0;
    d->heldValuesSaved = 0;
    d->shiftA = 0;
    d->shiftB = 0;
    for (int i = 0; i < d->blockProfileTimerCount && i < 1; ++i) d->blockProfileTimers[i].words[0] = 0;
    delayBuffersFree(d->delays, MODEL_NDELAY);
    memset(d->spatialDistributions, 0, sizeof d->spatialDistributions);
}

void resetModelData(ModelData* modelData) {
    if (modelData) resetData(modelData);
}

void resetGlobalModelData(void) { resetData(&globalTemplate); }

void resetTimeData(ModelTimeData* timeData, ModelFlags* flags) {
    if (timeData) {
        timeData[kTimeInlineStep] = 0;
        timeData[kTimeStepFactor] = 1;
        timeData[kTimeScale] = 0;
        timeData[kTimeOutputInterval] = 0;
    }
    if (flags) flags[kFlagInlineRequested] = 0;
}

void clearEventArrays(ModelData* modelData) { (void)modelData; /* the per-event array has length 0 */ }

int CVSlsSetSparseJacFn(void* cvodeMemory, void* jacobian) {
    (void)cvodeMemory;
    (void)jacobian;
    return -1;
}

int CVSlsGetNumJacEvals(void* cvodeMemory, long* count) {
    (void)cvodeMemory;
    (void)count;
    return -1;
}

int CVSuperLUMT(void* cvodeMemory, int threads, int n, int nnz) {
    (void)cvodeMemory;
    (void)threads;
    (void)n;
    (void)nnz;
    return -1;
}
