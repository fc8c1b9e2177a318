// The records shared by the FMI layer, the runtime and the generated model:
// ModelTimeData, ModelFlags, DelayBuffer and the per-instance ModelData.
// ModelData's layout follows the model's constants (model_config.h), so every
// file that includes this header is compiled once per model.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <type_traits>

#include "model_config.h"

// At least one element, so that a count of 0 still gives a valid array.
#define ATLEAST1(n) ((n) > 0 ? (n) : 1)

// Five doubles: inline step, step factor, next time event, tolerance time
// scale, output interval.
typedef double ModelTimeData;
enum { kTimeDataCount = 5 };
enum { kTimeInlineStep = 0, kTimeStepFactor = 1, kTimeNextEvent = 2, kTimeScale = 3, kTimeOutputInterval = 4 };

// Thirteen 32-bit flags shared with the model.
typedef int32_t ModelFlags;
enum { kFlagCount = 13 };
enum {
    kFlagInline = 0,
    kFlagWord = 1,
    kFlagDirectional = 3,
    kFlagHeldArg = 4,
    kFlagInlineRequested = 5,
    kFlagStateEvent = 6,
    kFlagParameterCounter = 8,
    kFlagEventOut = 9,
    kFlagInitOutputs = 10,
    kFlagHeldMode = 12
};
enum { kFlagsLogEvents = 2, kFlagsLogAlways = 4, kFlagsQuiet = 0x400 };

// What the model entry is asked to compute: its first argument, in and out.
// Equation section k is computed when the level is above k - 1 and the
// computed level below k, at the event-indicator level, or at an event.
enum EvaluationLevel : int32_t {
    levelInitial = 0,         // initial call (initialization)
    levelOutputs = 1,         // outputs
    levelDerivatives = 2,     // state derivatives
    levelAllEquations = 3,    // all continuous equations
    levelEventIndicators = 4, // event indicators
    levelEventIteration = 5,  // event iteration
    levelTerminal = 7         // terminal section
};

// The event situation of a model call, set by the FMI layer in ModelData's
// `eventCode` for exactly one call.
enum EventCode : int32_t {
    eventCodeIdle = -1,               // no equation section runs; otherwise normal, cleared at the end of the pass
    eventCodeNormal = 0,              // normal call: the driver runs the whole event iteration itself
    eventCodeFirstPass = 2,           // first event-update pass after entering event mode
    eventCodeFurtherPass = 3,         // further event-update passes
    eventCodeEndOfInitialization = 4, // end of initialization, or an event update without a started event
    eventCodeIteration = 5            // event iteration requested by the FMI layer, without the preparation
};

// Marks an event time that has not been set yet.
#define EVENT_TIME_UNSET (-1e33)

struct DelayBuffer {
    double* times;     // 2 x size doubles: the time column, then the value column
    double* values;    // times + size
    uint64_t position; // newest entry
    int32_t size;
    uint64_t secondPosition; // oldest entry still needed
};

// spatialDistribution rings: MODEL_NSPATIAL operator instances of the model,
// each with room for MODEL_SPATIAL_POINTS points (at least 4). The points
// live inside ModelData, so a ring is allocated, copied, serialized and freed
// with the instance's model data.
#ifndef MODEL_NSPATIAL
#define MODEL_NSPATIAL 0
#endif
#ifndef MODEL_SPATIAL_POINTS
#define MODEL_SPATIAL_POINTS 4
#endif
enum { kSpatialPoints = MODEL_SPATIAL_POINTS > 4 ? MODEL_SPATIAL_POINTS : 4 };

struct SpatialDistributionBuffer {
    double positions[kSpatialPoints];
    double values[kSpatialPoints];
    int32_t initialised;
    int32_t capacity; // points in use by the ring, 4..kSpatialPoints
    int32_t first;    // the point at the inflow end
    int32_t cursor;   // where the last search ended
    int32_t last;     // the point at the far end
};

struct BlockProfileTimer {
    int32_t words[18];
};

// One timer record of the block profile, as it lies in its 18 words.
struct BlockTimerView {
    int32_t calls;
    double longest;
    double shortest;
    double total;
    const char* name;
};
static_assert(sizeof(BlockTimerView) <= sizeof(BlockProfileTimer), "a timer record fits its words");

enum { kStringSlotLength = 500 };
enum { kWorkAreaDoubles = 10000 };
enum { kResourcesDirectoryLength = 1024 };

struct ModelData {
    // Runtime head.
    ModelTimeData* timeData;
    ModelFlags* flags;
    int32_t eventCode;
    int32_t eventPending;
    int32_t inlineIntegration;
    int32_t busy;
    DelayBuffer delays[ATLEAST1(MODEL_NDELAY)];
    SpatialDistributionBuffer spatialDistributions[ATLEAST1(MODEL_NSPATIAL)];

    // Model-specific head (model workspace).
    double modelHead[ATLEAST1(MODEL_HEAD_DOUBLES)];
    int32_t modelHeadInts[ATLEAST1(MODEL_HEAD_INTS)];

    // Evaluation state.
    double time;
    double initialTime;
    int32_t eventFlag;
    int32_t initPhase;
    int32_t restartIteration;
    int32_t maxRestartIterations;
    double crossingScale;
    int32_t sizesLoaded;
    int32_t firstCall;
    int32_t callCount;
    int32_t homotopyStepReduced;
    int32_t statusWord;
    int32_t repeatPass;
    double lambda;
    double lastLambda;
    double homotopyStep;
    int32_t homotopyUsed;
    int32_t homotopyActive;
    double timeEventCandidate;
    double heldTimeA;
    double heldTimeB;
    BlockProfileTimer blockProfileTimers[1];
    int32_t blockProfileTimerCount;
    int32_t timeEventActive; // state of the model's time-reached event
    int32_t sectionGate;     // result of the last section test of the equations

    // Model arrays; per-relation arrays are indexed from 1.
    double relationValues[ATLEAST1(MODEL_NREL) + 1];
    double crossingOutputs[ATLEAST1(MODEL_NREL) + 1];
    double eventEpsilons[ATLEAST1(MODEL_NREL) + 1];
    double relationNominals[ATLEAST1(MODEL_NREL) + 1];
    double sampleCounters[2 * ATLEAST1(MODEL_NSAMPLE)];
    double workArea[kWorkAreaDoubles];
    double heldValues[ATLEAST1(MODEL_NHELD)];
    double previousHeldValues[ATLEAST1(MODEL_NHELD)];

    // Step-factor bookkeeping of inline integration.
    double stepObserved;
    double lastEventTime;
    double stepUsed;
    double indicatorCurrent[2 * ATLEAST1(MODEL_NREL)];
    double indicatorFirst[2 * ATLEAST1(MODEL_NREL)];
    double indicatorSecond[2 * ATLEAST1(MODEL_NREL)];
    double indicatorThird[2 * ATLEAST1(MODEL_NREL)];

    // Runtime tail.
    int32_t relationEvaluated[ATLEAST1(MODEL_NREL) + 1];
    int32_t lastHomotopyCall;
    int32_t relationStates[ATLEAST1(MODEL_NREL) + 1];
    int32_t relationFlags[ATLEAST1(MODEL_NREL) + 1 + 10 + 2 * ATLEAST1(MODEL_NSAMPLE)];
    double indicatorHistory[2 * ATLEAST1(MODEL_NREL)];
    int32_t initialCall;
    int32_t crossingChanged;
    int32_t relationChanged;
    int32_t eventKindA;
    int32_t eventKindB;
    int32_t parameterChangeKept;
    int32_t parametersChanged;
    int32_t savedParameterCounter;
    int32_t eventCount;
    int32_t statePerturbation;

    // Directional-derivative request.
    double* ddVectors[4];
    int32_t ddCounts[3];
    size_t ddSizes[3];
    int32_t ddInt;
    int32_t* ddOut;
    int32_t ddOutSet;

    // String-variable slots and their pointer table.
    char stringSlots[ATLEAST1(MODEL_NSTRING_SLOTS)][kStringSlotLength];
    char* stringSlotTable[ATLEAST1(MODEL_NSTRING_SLOTS)];

    double extraVars1[ATLEAST1(MODEL_NEXTRA1)];
    double extraVars2[ATLEAST1(MODEL_NEXTRA2)];

    // Event times and saved held values.
    double eventTime;
    double homotopyMinStep;
    double eventTime2;
    double eventTime3;
    double savedHeldValues[6];
    double savedHeldTimeA;
    double savedHeldTimeB;
    double previousHeldTimeA;
    double previousHeldTimeB;
    int32_t heldValuesSaved;
    int32_t shiftA;
    int32_t shiftB;
    int32_t initCleared;

    char resourcesDirectory[kResourcesDirectoryLength];
};

static_assert(std::is_trivially_copyable<ModelData>::value, "ModelData is copied and serialized as bytes");
static_assert(std::is_standard_layout<ModelData>::value, "ModelData has a plain C layout");
static_assert(sizeof(DelayBuffer) == 40, "DelayBuffer layout");
