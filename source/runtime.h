// The model runtime's interface: model data access (size queries, templates,
// shared blocks), messages and the error report, and the small glue the FMI
// layer calls. Compiled per model (it sees ModelData's layout).
#pragma once

#include <stdarg.h>
#include <stdio.h>

#include "model_data.h"

extern "C" {

// ---- Size queries (model constants) ----
void getModelDimensions(int* nx, int* n2, int* nu, int* ny, int* nw, int* np, int* nstr, int* n8, int* nrel, int* n10,
                        int* n11, int* nExtra1, int* nExtra2);
void getModelSizes(int* nx, int* n2, int* nu, int* ny, int* nw, int* np, int* n7, int* n8, int* n9);
void getRuntimeSizes(int* nx, int* n2, int* nu, int* ny, int* nw, int* np, int* n7, int* nStepFactorStates, int* nrel,
                     int* n10, int* n11);
void getModelCounts(int* c1, int* c2, int* c3, int* c4, int* c5, int* c6, int* c7, int* c8, int* c9, int* c10);
void getRelationArrays(int* nrel, int** relationEvaluated, int** relationStates, int** relationFlags, int* zero);
int modelCapability(int code);
void declare_(double* states, double* parameters, double* inputs, char** strings, int* status);

// ---- Shared blocks and the process-wide record ----
ModelTimeData* getModelTimeData(void);
ModelFlags* getModelFlags(void);
void setModelBlocks(ModelTimeData* timeData, ModelFlags* flags);
// Forgets the process-wide block pointers when they are the given ones (their instance is being freed).
void clearModelBlocks(ModelTimeData* timeData, ModelFlags* flags);
ModelTimeData* getInstanceTimeData(ModelData* modelData);
// The flags of the ModelData bound to the calling thread, else the process-wide ones.
ModelFlags* boundModelFlags(void);

// ---- ModelData template and accessors (a null ModelData stands for the template) ----
ModelData* modelDataTemplate(void);
void copyModelData(ModelData* destination);
void getModelDataTemplate(void** address, size_t* size);
size_t modelDataSize(void);
int getEventPending(ModelData* modelData);
EventCode getEventCode(ModelData* modelData);
void setEventCode(ModelData* modelData, EventCode code);
void setInlineIntegration(ModelData* modelData, int flag);
void setStatePerturbationFlag(ModelData* modelData, int flag);
double initialTime(void);
void setDirectionalDerivativeRequest(ModelData* modelData, double* v1, double* v2, double* v3, double* v4, int c1,
                                     int c2, int c3, size_t s1, size_t s2, size_t s3, int value, int* out);
void registerLinearizationMatrices(ModelData* modelData, double* v1, double* v2, double* v3, double* v4, int c1,
                                   int c2, int c3, size_t s1, size_t s2, size_t s3, int value);
BlockProfileTimer* blockProfileTimers(ModelData* modelData, int* count);
void copyExtraVariablesIn(ModelData* modelData, const double* first, const double* second);
void copyExtraVariablesOut(ModelData* modelData, double* first, double* second);
void resetModelData(ModelData* modelData);
void resetGlobalModelData(void);
void resetTimeData(ModelTimeData* timeData, ModelFlags* flags);
void clearEventArrays(ModelData* modelData);

// Sparse solver entries: no sparse solver is available.
int CVSlsSetSparseJacFn(void* cvodeMemory, void* jacobian);
int CVSlsGetNumJacEvals(void* cvodeMemory, long* count);
int CVSuperLUMT(void* cvodeMemory, int threads, int n, int nnz);

// ---- Delay buffers ----
extern int Buffersize;
int delayBuffersAllocate(DelayBuffer* buffers, int n, int size);
int delayBuffersCopy(DelayBuffer* destination, const DelayBuffer* source, int n);
void delayBuffersFree(DelayBuffer* buffers, int n);
void delayBufferList(ModelData* modelData, DelayBuffer** buffers, int* count);

// ---- spatialDistribution (rows 0..MODEL_NSPATIAL-1 of a ModelData's rings) ----
struct RealArray;
struct SpatialDistributionOutputs {
    double out0;
    double out1;
};
// The rings of the ModelData, or of the template when it is null.
SpatialDistributionBuffer* spatialDistributionBuffers(ModelData* modelData);
int spatialDistributionFill(SpatialDistributionBuffer* buffers, int row, int capacity, double position, double value);
int spatialDistributionInit(SpatialDistributionBuffer* buffers, int row, int capacity, double x, double ignored,
                            RealArray initialPoints, RealArray initialValues);
SpatialDistributionOutputs spatialDistribution(SpatialDistributionBuffer* buffers, int row, double in0, double in1,
                                               double x, int positive, int insert);
void spatialDistributionStep(SpatialDistributionBuffer* buffers, int row, double in0, double in1, double c,
                             int positive, int insert, double* out0, double* out1);

// ---- Messages to the log bridge ----
void runtimeMessage(const char* text);
void runtimeMessageLevel(int type, const char* text);
void runtimeMessageBuffered(const char* text);
void runtimeMessageValue(int type, const char* text, double value);
void runtimeMessageTime(const char* text, double value);
double runtimeMessageTimeReturn(const char* text, double value);
void runtimeMessageInteger(const char* text, int value);
void runtimeMessageMatrixElement(const char* name, int i, int j, double value);
void runtimeMessageVector(const char* name, const double* values, int n);
void printMatrix(const char* name, const double* values, int rows, int columns, int leadingDimension);

// ---- Errors and warnings ----
// A type other than 1 marks the call as failed and unwinds to the armed trap.
double reportAtTime(const char* text, int type);
void runtimeError(const char* text);
void RuntimeAssert(int condition, const char* conditionText, const char* message);
void assertFailed(int condition, const char* conditionText, const char* message, int level, int* once);
double divisionByZero(const char* numeratorText, double numerator, const char* denominatorText, double denominator);
double divisionByZeroInverse(const char* denominatorText, double denominator);
void singularScalarSystem(const char* name, const char* numeratorText, const char* denominatorText, double numerator,
                          double denominator, int flags);
void singularScalarMinNorm(const char* name, double value);
void terminate(const char* message);
void setAbortStatus(void);
double currentTime(void);
int* statusWordPointer(void);
void resetFunctionStack(void);

// ---- Typed message sink (streams or callback) ----
typedef int (*RuntimeMessageCallback)(int type, const char* text);
int outputMessage(int type, const char* text);
int outputTypedMessage(int type, const char* text);
int outputMessageText(const int* type, const char* text, int length);
int outputMessageInfo(const char* text, int length);
void messageInteger(int unit, const char* text, const int* value, int length);
void messageIntegerDefault(const char* text, const int* value, int length);
void messageText(int unit, const char* text, int length);
void messageReal(int unit, const char* text, const double* value, int length);
void messageRaw(int unit, const char* text);

// ---- Log bridge, implemented by the FMI layer ----
void logModelMessage(const char* text, int immediate, int type);
// The text logModelMessage passes on: every '#' doubled, cut to size - 1
// characters (4095 in logModelMessage). Returns its length.
size_t copyRuntimeText(const char* text, char* out, size_t size);

} // extern "C"

// The process-wide record of the runtime (one per loaded library).
struct RuntimeGlobals {
    FILE* outStream;
    FILE* errStream;
    char programName[512];
    int prefixLines;
    FILE* eventLogStream;
    void* eventLogTable;
    ModelTimeData* timeData;
    ModelFlags* flags;
    RuntimeMessageCallback messageCallback;
    int suppressOutput;
    int eventLogIteration;
    int eventLogLogged;
    double eventLogLastFlush;
};
extern RuntimeGlobals runtimeGlobals;

// The ModelData of the call running on this thread, or the template when none is bound.
ModelData* activeModelData();
