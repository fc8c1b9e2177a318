// The per-thread record: function-name stack, scratch buffers with their marks,
// the simple-string buffer, the error trap and the bound ModelData.
#pragma once

#include <stdint.h>

struct ModelData;

extern "C" {

struct FunctionFrame {
    const char* name;
    FunctionFrame* next;
};

struct MarkPlace {
    double* Realbuffer;
    int32_t* Integerbuffer;
    int32_t* Sizebuffer;
    const char** Stringbuffer;
};

struct SavedMarks {
    MarkPlace current;
    MarkPlace enclosing;
};

struct ErrorTrap;

struct ThreadContext {
    FunctionFrame* functionStack;
    uint32_t depth;
    MarkPlace bufferStart;
    MarkPlace startMark;
    struct {
        MarkPlace place;
    } currentMark;
    MarkPlace enclosingMark;
    char* stringmark;
    char* simplestring;
    char* Endsimplestring;
    double* EndRealbuffer;
    int32_t* EndIntegerbuffer;
    int32_t* EndSizebuffer;
    const char** EndStringbuffer;
    ErrorTrap* trap; // innermost armed trap, NULL when none
    ModelData* boundModelData;
};

enum {
    kRealBufferSize = 500000,
    kIntegerBufferSize = 50000,
    kSizeBufferSize = 50000,
    kStringBufferSize = 10000,
    kSimpleStringSize = 10000
};

ThreadContext* getThreadContext(void);
ThreadContext* bindModelData(ModelData* modelData);
void createThreadBuffers(void);
double* RealAlloc(int n);
int32_t* IntegerAlloc(int n);
int32_t* SizeAlloc(int n);
const char** StringPointerAlloc(int n);
SavedMarks PushMark(void);
void SaveMark(MarkPlace* destination);
void ReleaseToMark(void);
void PopMark(SavedMarks saved);
void ResetMarks(void);
char* GetStringMark(void);
void SetStringMark(char* position);
char* KeepString(char* text, char* position);
void freeThreadBuffers(ThreadContext* context);
void freeOwnThreadBuffers(void);
void releaseRuntimeBuffers(void);

// Pushes and pops a generated function's name frame (the frame lives on the caller's stack).
void pushFunctionFrame(FunctionFrame* frame, const char* name);
void popFunctionFrame(FunctionFrame* frame);

// Library entry: reasons as the loader passes them.
enum { kDllProcessDetach = 0, kDllProcessAttach = 1, kDllThreadAttach = 2, kDllThreadDetach = 3 };
int DllMain(void* module, unsigned long reason, void* reserved);
// Non-zero when the thread slot exists (instantiation fails without it).
int threadSlotAvailable(void);

} // extern "C"

// ---- Error trap ----
// A runtime error unwinds with this exception to the innermost armed trap. It
// never crosses a host callback, CVODE or LAPACK: every path into the model
// runs under a trap.
struct RuntimeUnwind {
    int value;
};

// Nested traps link to the previous one. Arming saves the thread's binding,
// function stack and buffer marks; after an unwind they are put back, so one
// error does not leave frames or scratch memory behind on the thread.
struct ErrorTrap {
    ErrorTrap* previous;
    ThreadContext* context;
    ModelData* savedBinding;
    FunctionFrame* savedStack;
    uint32_t savedDepth;
    MarkPlace savedCurrent;
    MarkPlace savedEnclosing;
    char* savedStringmark;
    int armed;
    int evaluation; // armed by the model entry for one model evaluation
};

// Arms a trap on the calling thread; returns 0 when no thread record exists.
// Arm before binding the call's ModelData: disarming puts back the binding
// that was in place when the trap was armed.
int trapArm(ErrorTrap* trap);
// Puts back the function stack and buffer marks saved when the trap was armed.
void trapRestore(ErrorTrap* trap);
// Unlinks the trap and restores the binding that was in place when it was armed.
void trapDisarm(ErrorTrap* trap);
// True while some trap is armed on the calling thread.
bool trapArmed();
// The trap of the innermost model evaluation running on the calling thread,
// or NULL when none runs. Its saved marks and function stack are where that
// evaluation began.
const ErrorTrap* runningEvaluation();

// Runs body() under a fresh trap; returns 0, or the unwind value (the trap's
// saved stack and marks restored). Exceptions other than RuntimeUnwind are
// turned into 1 as well.
template <typename F>
int runUnderTrap(F&& body) {
    ErrorTrap trap;
    if (!trapArm(&trap)) return 1;
    int result = 0;
    try {
        body();
    } catch (const RuntimeUnwind& unwind) {
        trapRestore(&trap);
        result = unwind.value;
    } catch (...) {
        trapRestore(&trap);
        result = 1;
    }
    trapDisarm(&trap);
    return result;
}
