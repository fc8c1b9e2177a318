// The one path from the FMI layer into the model entry: the event code that
// fits the instance's mode, the model call with the instance's arrays, and the
// normalisation of QiErr; and the event update built on it.
#include "evaluate.h"

#include "model_interface.h"
#include "runtime.h"

const EvaluationLevel dsblockLevelsOfEventUpdate[2] = {levelAllEquations, levelEventIteration};

void callModelEntry(ModelInstance* instance, int* level) {
    copyExtraVariablesIn(instance->modelData, instance->extraVars1, instance->extraVars2);
    if (instance->modelData) {
        // Calls may nest (an instance evaluated from another instance's
        // logger): the enclosing call gets its routing back afterwards.
        ModelInstance* enclosing = instanceInModelCall;
        instanceInModelCall = instance;
        dsblockDriver(level, &instance->computedLevel, &instance->time, instance->x, nullptr, instance->u,
                      instance->p, nullptr, nullptr, instance->xdot, instance->y, instance->w,
                      instance->eventIndicators, instance->timeDataForModel, instance->flagsForModel, instance->strings,
                      instance->modelData, &instance->qiErr);
        instanceInModelCall = enclosing;
    } else {
        dsblock_(level, &instance->computedLevel, &instance->time, instance->x, nullptr, instance->u, instance->p,
                 nullptr, nullptr, instance->xdot, instance->y, instance->w, instance->eventIndicators,
                 instance->timeDataForModel, instance->flagsForModel, instance->strings, &instance->qiErr);
    }
    copyExtraVariablesOut(instance->modelData, instance->extraVars1, instance->extraVars2);
}

int evaluateModel(ModelInstance* instance, EvaluationLevel level, const char* name, int* converged) {
    ModelData* modelData = instance->modelData;
    switch (instance->mode) {
    case modeInstantiated:
    case modeInitialization:
        if (getEventCode(modelData) == eventCodeNormal) setEventCode(modelData, eventCodeIteration);
        break;
    case modeEvent:
    case modeEventNeedsIteration:
    case modeEventIterationDone:
        if (instance->firstEventCall) {
            setEventCode(modelData, eventCodeFirstPass);
            instance->firstEventCall = 0;
        } else if (getEventCode(modelData) == eventCodeNormal) {
            setEventCode(modelData, eventCodeIteration);
        }
        level = levelEventIteration; // in event mode every call is an event-iteration call
        break;
    default:
        break; // the caller may have set the code
    }

    instance->qiErr = 0;
    int callLevel = level;
    callModelEntry(instance, &callLevel);

    if (converged) *converged = getEventCode(modelData) == eventCodeNormal ? 1 : 0;
    setEventCode(modelData, eventCodeNormal);
    instance->dirty = 0;
    instance->endOfStepEvent =
        (callLevel == levelEventIteration && (instance->qiErr == -995 || instance->qiErr == -993)) ? 1 : 0;
    if (instance->qiErr >= -995 && instance->qiErr <= -990) instance->qiErr = 0; // event iteration finished
    if (instance->qiErr != 0 && name)
        LOG_INSTANCE(instance, fmi2Error, "%s: dsblock_ failed, QiErr = %d", name, instance->qiErr);
    return instance->qiErr;
}

fmi2Status eventUpdate(ModelInstance* instance, int* terminated) {
    int ignored = 0;
    if (!terminated) terminated = &ignored;
    *terminated = 0;
    int converged = 1;
    for (int pass = 0; pass < 2; ++pass) {
        int qiErr = 0;
        if (pass == 0) {
            // Not under inline integration: the model advances its own states there.
            if (instance->flags[kFlagInlineRequested]) continue;
            qiErr = evaluateModel(instance, dsblockLevelsOfEventUpdate[0], nullptr, nullptr);
        } else {
            setEventCode(instance->modelData,
                         instance->eventUpdateStarted ? eventCodeEndOfInitialization : eventCodeNormal);
            instance->computedLevel = 0;
            qiErr = evaluateModel(instance, dsblockLevelsOfEventUpdate[1], nullptr, &converged);
        }
        *terminated = 0;
        if (qiErr == 0) continue;
        if (qiErr == -999) {
            LOG_INSTANCE(instance, fmi2OK, "event updating: simulation terminated by model");
            *terminated = 1;
            return fmi2OK;
        }
        LOG_INSTANCE(instance, fmi2Error, "event updating: dsblock_ failed, QiErr = %d", qiErr);
        return terminateOnError(instance);
    }
    instance->linearizationDirty = 1;
    instance->eventIterationPending = converged ? 0 : 1;
    return fmi2OK;
}
