// FMU state images: a state is described to the typed pack library by one
// map, packed and dumped into the host's buffer, and read back by loading and
// unpacking an image into a staging record that is checked before anything
// of the receiving state changes.
#include <stddef.h>
#include <string.h>

#include "evaluate.h"
#include "fmu_state.h"
#include "integrator.h"
#include "runtime.h"
#include "tpl.h"

static const char* const kSerializedSize = "fmi2SerializedFMUstateSize";
static const char* const kSerialize = "fmi2SerializeFMUstate";
static const char* const kDeSerialize = "fmi2DeSerializeFMUstate";

// The elements of a state in image order: settings, the ten value arrays, the
// string variables, time and the mode fields, the two shared blocks, the
// ModelData block and the contents of the delay buffers.
static const char* const kStateFormat =
    "ifif#f#f#f#f#f#f#f#f#f#s#fiiiiiiiiiiiUfiS(fffff)S(iiiiiiiiiiiii)Bf#";

static ModelInstance* asInstance(fmi2Component c) { return static_cast<ModelInstance*>(c); }

static bool resultGenerationRefuses(ModelInstance* instance, const char* name) {
    if (!instance->resultGeneration) return false;
    LOG_INSTANCE(instance, fmi2Warning,
                 "%s failed, FMU uses internal result generation; this is not possible to combine with %s", name,
                 name);
    return true;
}

// Doubles of the contiguous copy of all delay buffers; at least one, since a
// count of 0 cannot be mapped.
static size_t delayScratchCount() {
    int count = 0;
    delayBufferList(nullptr, nullptr, &count);
    const size_t n = 2 * static_cast<size_t>(Buffersize > 0 ? Buffersize : 0) * static_cast<size_t>(count > 0 ? count : 0);
    return n > 0 ? n : 1;
}

static int mapCount(uint64_t n) { return static_cast<int>(n + 1); }

// The map of a state's elements; `block` describes the ModelData image and
// `delayScratch` the delay contents. NULL after a logged Warning.
static TplNode* createTplMap(ModelInstance* instance, ModelInstance* s, TplBuffer* block, double* delayScratch,
                             size_t scratchCount) {
    TplNode* map = tpl_map(
        kStateFormat, &s->toleranceDefined, &s->tolerance, &s->loggingOn, s->x, mapCount(s->nx), s->xdot,
        mapCount(s->nx), s->p, mapCount(s->np), s->u, mapCount(s->nu), s->y, mapCount(s->ny), s->w, mapCount(s->nw),
        s->eventIndicators, mapCount(s->ni), s->nominals, mapCount(s->nx), s->extraVars1, mapCount(s->nExtra1),
        s->extraVars2, mapCount(s->nExtra2), s->strings, mapCount(s->nstr), &s->time, &s->computedLevel, &s->mode,
        &s->terminatedByModel, &s->resultGeneration, &s->dirty, &s->eventIterationPending, &s->linearizationDirty,
        &s->directionalDerivativeActive, &s->inputsChanged, &s->firstEventCall, &s->eventUpdateStarted,
        &s->stepCounter, &s->nextOutputTime, &s->perturbByState, s->timeData, s->flags, block, delayScratch,
        static_cast<int>(scratchCount));
    if (!map) LOG_INSTANCE(instance, fmi2Warning, "createTplMap: tpl_map returned NULL");
    return map;
}

static double* allocateScratch(ModelInstance* instance, size_t count) {
    return static_cast<double*>(instance->functions->allocateMemory(count, sizeof(double)));
}

// Copies the delay buffers of `state`, each as 2 x Buffersize doubles (times,
// then values), one after the other into `scratch`.
static void gatherDelays(ModelInstance* state, double* scratch, size_t scratchCount) {
    memset(scratch, 0, scratchCount * sizeof(double));
    if (!state->modelData || Buffersize <= 0) return;
    DelayBuffer* delays = nullptr;
    int count = 0;
    delayBufferList(state->modelData, &delays, &count);
    const size_t slot = 2 * static_cast<size_t>(Buffersize);
    for (int i = 0; i < count && (static_cast<size_t>(i) + 1) * slot <= scratchCount; ++i) {
        if (!delays[i].times || delays[i].size <= 0) continue;
        double* target = scratch + static_cast<size_t>(i) * slot;
        // A buffer of another size is written in the image's layout: times in
        // the first half, values in the second.
        const size_t n = delays[i].size < Buffersize ? static_cast<size_t>(delays[i].size)
                                                      : static_cast<size_t>(Buffersize);
        memcpy(target, delays[i].times, n * sizeof(double));
        memcpy(target + Buffersize, delays[i].times + delays[i].size, n * sizeof(double));
    }
}

// Calls visit(field, bytes) for each field of a ModelData block that holds an
// address of this process: the shared blocks, the delay storage, the
// directional-derivative request, the string-slot table and the names of the
// profile timers. An image carries them as zero, so that it depends on the
// state alone and not on the record or the process that holds it; a reader
// points them at its own storage.
template <typename Visit>
static void forEachAddress(ModelData* d, Visit visit) {
    visit(&d->timeData, sizeof d->timeData);
    visit(&d->flags, sizeof d->flags);
    for (DelayBuffer& b : d->delays) {
        visit(&b.times, sizeof b.times);
        visit(&b.values, sizeof b.values);
    }
    visit(d->ddVectors, sizeof d->ddVectors);
    visit(&d->ddOut, sizeof d->ddOut);
    visit(d->stringSlotTable, sizeof d->stringSlotTable);
    for (BlockProfileTimer& t : d->blockProfileTimers)
        visit(reinterpret_cast<char*>(&t) + offsetof(BlockTimerView, name), sizeof(const char*));
}

// Packs the map; the ModelData block goes in without its addresses, which it
// gets back at once (packing copies the block).
static int packState(TplNode* map, ModelInstance* state) {
    ModelData* d = state->modelData;
    if (!d) return tpl_pack(map, 0);
    // At most the records that hold the addresses.
    char saved[sizeof d->timeData + sizeof d->flags + sizeof d->delays + sizeof d->ddVectors + sizeof d->ddOut +
               sizeof d->stringSlotTable + sizeof d->blockProfileTimers];
    size_t at = 0;
    forEachAddress(d, [&](void* field, size_t n) {
        memcpy(saved + at, field, n);
        memset(field, 0, n);
        at += n;
    });
    const int result = tpl_pack(map, 0);
    at = 0;
    forEachAddress(d, [&](void* field, size_t n) {
        memcpy(field, saved + at, n);
        at += n;
    });
    return result;
}

static TplBuffer modelDataBlock(ModelInstance* state) {
    TplBuffer block;
    block.addr = state->modelData;
    block.size = state->modelData ? static_cast<uint32_t>(sizeof(ModelData)) : 0;
    return block;
}

// Packs `state` and dumps its image: into `buffer` of `size` bytes, or, with
// no buffer, only its size into *imageSize. fmi2OK, fmi2Warning after a failure
// of the typed pack library, fmi2Error when memory runs out.
static fmi2Status writeImage(ModelInstance* instance, ModelInstance* state, const char* name, fmi2Byte* buffer,
                             size_t size, size_t* imageSize) {
    const size_t scratchCount = delayScratchCount();
    double* scratch = allocateScratch(instance, scratchCount);
    if (!scratch) {
        LOG_INSTANCE(instance, fmi2Error, "%s: out of memory", name);
        return fmi2Error;
    }
    if (buffer) gatherDelays(state, scratch, scratchCount);
    TplBuffer block = modelDataBlock(state);
    fmi2Status status = fmi2OK;
    TplNode* map = createTplMap(instance, state, &block, scratch, scratchCount);
    if (!map) {
        status = fmi2Warning;
    } else if (packState(map, state) != 0) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: tpl_pack failed", name);
        status = fmi2Warning;
    } else {
        const int dumped = buffer ? tpl_dump(map, TPL_MODE_MEMORY | TPL_MODE_PREALLOCATED, buffer, size)
                                  : tpl_dump(map, TPL_MODE_SIZE_ONLY, imageSize);
        if (dumped != 0) {
            LOG_INSTANCE(instance, fmi2Warning, "%s: tpl_dump failed", name);
            status = fmi2Warning;
        }
    }
    if (map) tpl_release(map);
    instance->functions->freeMemory(scratch);
    return status;
}

fmi2Status fmiSerializedFMUstateSize(fmi2Component c, fmi2FMUstate FMUstate, size_t* size) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    if (resultGenerationRefuses(instance, kSerializedSize)) return fmi2Warning;
    if (!FMUstate) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: FMUstate == NULL", kSerializedSize);
        return fmi2Warning;
    }
    if (!size) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: size == NULL", kSerializedSize);
        return fmi2Warning;
    }
    // Computed for this state: the size follows its dimensions and texts.
    size_t imageSize = 0;
    const fmi2Status status =
        writeImage(instance, static_cast<ModelInstance*>(FMUstate), kSerializedSize, nullptr, 0, &imageSize);
    if (status == fmi2OK) *size = imageSize;
    return status;
}

fmi2Status fmiSerializeFMUstate(fmi2Component c, fmi2FMUstate FMUstate, fmi2Byte serializedState[], size_t size) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    if (resultGenerationRefuses(instance, kSerialize)) return fmi2Warning;
    if (!FMUstate) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: FMUstate == NULL", kSerialize);
        return fmi2Warning;
    }
    if (!serializedState) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: serializedState == NULL", kSerialize);
        return fmi2Warning;
    }
    return writeImage(instance, static_cast<ModelInstance*>(FMUstate), kSerialize, serializedState, size, nullptr);
}

// ---- Reading an image ----

namespace {

// Where an image is unpacked before it is checked: a record with the state's
// sizes whose arrays live in one block of the host's memory.
struct Staging {
    ModelInstance record;
    double* values = nullptr;   // the ten value arrays, one after the other
    char** texts = nullptr;     // the unpacked texts (nstr + 1)
    ModelTimeData timeData[kTimeDataCount] = {};
    ModelFlags flags[kFlagCount] = {};
    TplBuffer block = {nullptr, 0};
    double* scratch = nullptr;
    size_t scratchCount = 0;
};

} // namespace

static bool prepareStaging(ModelInstance* instance, const ModelInstance* state, Staging* stage) {
    ModelInstance& r = stage->record;
    memset(static_cast<void*>(&r), 0, sizeof r);
    r.nx = state->nx;
    r.np = state->np;
    r.nu = state->nu;
    r.ny = state->ny;
    r.nw = state->nw;
    r.ni = state->ni;
    r.nstr = state->nstr;
    r.nExtra1 = state->nExtra1;
    r.nExtra2 = state->nExtra2;
    const uint64_t counts[10] = {r.nx, r.nx, r.np, r.nu, r.ny, r.nw, r.ni, r.nx, r.nExtra1, r.nExtra2};
    uint64_t total = 0;
    for (uint64_t n : counts) total += n + 1;
    const fmi2CallbackFunctions* functions = instance->functions;
    stage->values = static_cast<double*>(functions->allocateMemory(static_cast<size_t>(total), sizeof(double)));
    stage->texts = static_cast<char**>(functions->allocateMemory(static_cast<size_t>(r.nstr + 1), sizeof(char*)));
    stage->scratchCount = delayScratchCount();
    stage->scratch = allocateScratch(instance, stage->scratchCount);
    if (!stage->values || !stage->texts || !stage->scratch) return false;
    for (uint64_t i = 0; i <= r.nstr; ++i) stage->texts[i] = nullptr;
    double** arrays[10] = {&r.x, &r.xdot, &r.p, &r.u, &r.y, &r.w, &r.eventIndicators, &r.nominals, &r.extraVars1,
                           &r.extraVars2};
    double* next = stage->values;
    for (int i = 0; i < 10; ++i) {
        *arrays[i] = next;
        next += counts[i] + 1;
    }
    r.strings = stage->texts;
    r.timeData = stage->timeData;
    r.flags = stage->flags;
    return true;
}

// Releases what unpacking allocated (through the library's hooks) and the staging memory.
static void releaseStaging(ModelInstance* instance, Staging* stage) {
    if (stage->texts) {
        for (uint64_t i = 0; i <= stage->record.nstr; ++i)
            if (stage->texts[i]) TplHooks.free(stage->texts[i]);
        instance->functions->freeMemory(stage->texts);
    }
    if (stage->block.addr) TplHooks.free(stage->block.addr);
    stage->block.addr = nullptr;
    if (stage->values) instance->functions->freeMemory(stage->values);
    if (stage->scratch) instance->functions->freeMemory(stage->scratch);
}

static bool validMode(int mode) {
    return mode == modeInstantiated || mode == modeInitialization || mode == modeEvent ||
           mode == modeEventNeedsIteration || mode == modeEventIterationDone || mode == modeContinuousOrStepping ||
           mode == modeTerminated;
}

// Checks what was unpacked and prepares its ModelData block for the copy
// into `state`: the block has exactly the model's size, its delay records
// describe the staged contents, and nothing in it that the runtime follows
// (text ends, delay positions, profile timers) can lead outside its storage.
static bool acceptStaging(Staging* stage, ModelInstance* instance, ModelInstance* state) {
    ModelInstance& r = stage->record;
    if (!validMode(r.mode)) return false;
    // No state is ever taken with internal result generation on, and the
    // perturbation choice is a constant of the model.
    if (r.resultGeneration != 0 || r.perturbByState != instance->perturbByState) return false;
    if (!MODEL_HAS_INSTANCE_DATA || !state->modelData) return stage->block.size == 0;
    if (!stage->block.addr || stage->block.size != sizeof(ModelData)) return false;
    ModelData* d = static_cast<ModelData*>(stage->block.addr);

    DelayBuffer* delays = nullptr;
    int count = 0;
    delayBufferList(d, &delays, &count);
    const size_t slot = 2 * static_cast<size_t>(Buffersize);
    if (static_cast<size_t>(count) * slot > stage->scratchCount && count > 0 && Buffersize > 0) return false;
    for (int i = 0; i < count; ++i) {
        DelayBuffer& b = delays[i];
        if (Buffersize <= 0) {
            memset(&b, 0, sizeof b);
            continue;
        }
        if (b.position >= static_cast<uint64_t>(Buffersize) || b.secondPosition >= static_cast<uint64_t>(Buffersize))
            return false;
        b.times = stage->scratch + static_cast<size_t>(i) * slot;
        b.values = b.times + Buffersize;
        b.size = Buffersize;
    }

    // Profile timers carry text pointers of the process that wrote them: the
    // receiving state keeps its own.
    memcpy(d->blockProfileTimers, state->modelData->blockProfileTimers, sizeof d->blockProfileTimers);
    d->blockProfileTimerCount = state->modelData->blockProfileTimerCount;
    // Texts end inside their storage.
    for (size_t i = 0; i < sizeof d->stringSlots / sizeof d->stringSlots[0]; ++i)
        d->stringSlots[i][kStringSlotLength - 1] = '\0';
    d->resourcesDirectory[kResourcesDirectoryLength - 1] = '\0';
    r.modelData = d;
    return true;
}

// The number of states of a new state record for an image. A Co-Simulation
// instance of a model without states integrates one dummy state from its
// initialization on, so an image taken before or after that point may carry
// 0 or 1 states whatever the receiving instance has now: the image's count
// (the first fixed count of its header) decides. Otherwise the instance's.
static uint64_t stateCountForImage(const ModelInstance* instance, const fmi2Byte* image, size_t size) {
    int modelStates = 0;
    getModelDimensions(&modelStates, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr);
    if (modelStates != 0 || instance->fmuType != fmi2CoSimulation) return instance->nx;
    // Magic, flags (this machine's byte order only), length, format string and its NUL.
    const size_t formatStart = 8;
    const size_t formatLength = strlen(kStateFormat);
    if (size < formatStart + formatLength + 1 + 4 || memcmp(image, "tpl", 3) != 0 || (image[3] & 1) != 0 ||
        memcmp(image + formatStart, kStateFormat, formatLength + 1) != 0)
        return instance->nx;
    uint32_t count = 0;
    memcpy(&count, image + formatStart + formatLength + 1, sizeof count);
    return count == 1 || count == 2 ? count - 1 : instance->nx;
}

fmi2Status fmiDeSerializeFMUstate(fmi2Component c, const fmi2Byte serializedState[], size_t size,
                                  fmi2FMUstate* FMUstate) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    if (resultGenerationRefuses(instance, kDeSerialize)) return fmi2Warning;
    if (!serializedState) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: serializedState == NULL", kDeSerialize);
        return fmi2Warning;
    }
    if (!FMUstate) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: FMUstate == NULL", kDeSerialize);
        return fmi2Warning;
    }

    // An existing state receives images of its own dimensions only (the
    // library checks the image's counts against the state's map).
    ModelInstance* state = static_cast<ModelInstance*>(*FMUstate);
    const bool created = state == nullptr;
    if (created) {
        state = newFMUstate(instance, stateCountForImage(instance, serializedState, size));
        if (!state) {
            LOG_INSTANCE(instance, fmi2Error, "%s: out of memory", kDeSerialize);
            return fmi2Error;
        }
    }

    Staging stage;
    fmi2Status status = fmi2OK;
    TplNode* map = nullptr;
    if (!prepareStaging(instance, state, &stage)) {
        LOG_INSTANCE(instance, fmi2Error, "%s: out of memory", kDeSerialize);
        status = fmi2Error;
    } else if (!(map = createTplMap(instance, &stage.record, &stage.block, stage.scratch, stage.scratchCount))) {
        status = fmi2Warning;
    } else if (tpl_load(map, TPL_MODE_MEMORY, const_cast<fmi2Byte*>(serializedState), size) != 0) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: tpl_load failed", kDeSerialize);
        status = fmi2Warning;
    } else if (tpl_unpack(map, 0) != 1 || !acceptStaging(&stage, instance, state)) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: tpl_unpack failed", kDeSerialize);
        status = fmi2Warning;
    } else {
        // Texts go into the state's 501-byte slots (cut at 500 characters);
        // the ModelData block is copied whole and then re-pointed at the
        // state's own blocks, slots and delay storage.
        const int result = copyFMUstate(&stage.record, state, instance->functions);
        if (result == 1) {
            LOG_INSTANCE(instance, fmi2Error, "%s: out of memory", kDeSerialize);
            status = fmi2Error;
        } else if (result != 0) {
            LOG_INSTANCE(instance, fmi2Warning, "%s: tpl_unpack failed", kDeSerialize);
            status = fmi2Warning;
        }
    }
    if (map) tpl_release(map);
    releaseStaging(instance, &stage);

    if (status != fmi2OK) {
        // A state made for this call and left unfilled is not handed out.
        if (created) releaseFMUstate(instance, state);
        return status;
    }
    // An image carries no integrator record: one kept from an earlier save
    // does not belong to the new contents.
    if (state->integrator) freeIntegratorRecord(instance, state);
    state->isStateCopy = 1;
    *FMUstate = state;
    return fmi2OK;
}
