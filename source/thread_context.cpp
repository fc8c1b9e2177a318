// The per-thread record with its scratch buffers, marks and error trap, and
// the library entry that owns the thread slot.
#include "thread_context.h"

#include <stdlib.h>
#include <string.h>

#include <mutex>

#include "external_libraries.h"
#include "locale_c.h"
#include "platform.h"
#include "runtime.h"

static int threadSlot = -1;

// Every record this library created, on any thread. A thread that ends frees
// its own record; unloading the library frees the records of the threads that
// are still running, whose slot destructors will never run once the slot is
// gone. The list is only touched under its lock.
namespace {
struct RegisteredContext {
    ThreadContext context; // first: the address handed out is the record's
    RegisteredContext* next;
};
std::mutex registryLock;
RegisteredContext* registry = nullptr;
} // namespace

static ThreadContext* createContext() {
    RegisteredContext* entry = static_cast<RegisteredContext*>(calloc(1, sizeof(RegisteredContext)));
    if (!entry) return nullptr;
    std::lock_guard<std::mutex> guard(registryLock);
    entry->next = registry;
    registry = entry;
    return &entry->context;
}

static void destroyEntry(RegisteredContext* entry) {
    freeThreadBuffers(&entry->context);
    free(entry);
}

// Frees one record, unless it was already freed with all others at unloading.
static void freeContext(ThreadContext* context) {
    if (!context) return;
    RegisteredContext* found = nullptr;
    {
        std::lock_guard<std::mutex> guard(registryLock);
        for (RegisteredContext** link = &registry; *link; link = &(*link)->next) {
            if (&(*link)->context == context) {
                found = *link;
                *link = found->next;
                break;
            }
        }
    }
    if (found) destroyEntry(found);
}

// Frees every thread's record (at unloading, when no thread is inside the library).
static void freeAllContexts() {
    RegisteredContext* list = nullptr;
    {
        std::lock_guard<std::mutex> guard(registryLock);
        list = registry;
        registry = nullptr;
    }
    while (list) {
        RegisteredContext* next = list->next;
        destroyEntry(list);
        list = next;
    }
}

// Called by the thread library when a thread that has a record ends.
static void threadSlotDestructor(void* value) { freeContext(static_cast<ThreadContext*>(value)); }

int DllMain(void* module, unsigned long reason, void* reserved) {
    (void)module;
    (void)reserved;
    switch (reason) {
    case kDllProcessAttach:
        threadSlot = platformSlotCreate(threadSlotDestructor);
        return threadSlot >= 0;
    case kDllThreadDetach:
        if (threadSlot >= 0) {
            freeContext(static_cast<ThreadContext*>(platformSlotGet(threadSlot)));
            platformSlotSet(threadSlot, nullptr);
        }
        return 1;
    case kDllProcessDetach:
        if (threadSlot >= 0) {
            // The calling thread's record and those of all other threads.
            platformSlotSet(threadSlot, nullptr);
            freeAllContexts();
            platformSlotDelete(threadSlot);
            threadSlot = -1;
        }
        freeCLocale();
        return 1;
    default:
        return 1;
    }
}

int threadSlotAvailable(void) { return threadSlot >= 0; }

// The loader's attach and detach of this library. The module path is taken
// here, at load, and nowhere else.
__attribute__((constructor)) static void libraryAttach() {
    DllMain(nullptr, kDllProcessAttach, nullptr);
    takeModulePath();
}
__attribute__((destructor)) static void libraryDetach() { DllMain(nullptr, kDllProcessDetach, nullptr); }

ThreadContext* getThreadContext(void) {
    if (threadSlot < 0) return nullptr;
    ThreadContext* context = static_cast<ThreadContext*>(platformSlotGet(threadSlot));
    if (context) return context;
    context = createContext();
    if (!context) return nullptr;
    if (platformSlotSet(threadSlot, context) != 0) {
        freeContext(context);
        return nullptr;
    }
    return context;
}

ThreadContext* bindModelData(ModelData* modelData) {
    ThreadContext* context = getThreadContext();
    if (context) context->boundModelData = modelData;
    return context;
}

void createThreadBuffers(void) {
    ThreadContext* c = getThreadContext();
    if (!c || c->EndRealbuffer) return;
    double* reals = static_cast<double*>(calloc(kRealBufferSize, sizeof(double)));
    int32_t* integers = static_cast<int32_t*>(calloc(kIntegerBufferSize, sizeof(int32_t)));
    int32_t* sizes = static_cast<int32_t*>(calloc(kSizeBufferSize, sizeof(int32_t)));
    const char** strings = static_cast<const char**>(calloc(kStringBufferSize, sizeof(const char*)));
    char* simple = static_cast<char*>(calloc(kSimpleStringSize, 1));
    if (!reals || !integers || !sizes || !strings || !simple) {
        // All or nothing: the buffers count as present only when every one exists.
        free(reals);
        free(integers);
        free(sizes);
        free(strings);
        free(simple);
        return;
    }
    c->bufferStart = MarkPlace{reals, integers, sizes, strings};
    c->startMark = c->bufferStart;
    c->currentMark.place = c->bufferStart;
    c->enclosingMark = c->bufferStart;
    c->simplestring = simple;
    c->stringmark = simple;
    c->Endsimplestring = simple + kSimpleStringSize;
    c->EndRealbuffer = reals + kRealBufferSize;
    c->EndIntegerbuffer = integers + kIntegerBufferSize;
    c->EndSizebuffer = sizes + kSizeBufferSize;
    c->EndStringbuffer = strings + kStringBufferSize;
}

// The thread's record with its buffers, or an unwinding runtime error when
// either cannot be had (there is no scratch memory to hand out).
static ThreadContext* bufferedContext() {
    ThreadContext* c = getThreadContext();
    if (c && !c->EndRealbuffer) createThreadBuffers();
    if (!c || !c->EndRealbuffer) {
        runtimeError("Out of memory: the scratch buffers of this thread could not be allocated.\n");
        return nullptr;
    }
    return c;
}

// Moves one bump pointer by n elements. The room is checked in element counts
// before the pointer moves, so a negative or oversized request never moves it
// backwards or past its end.
template <typename T>
static T* bumpAllocate(T*& position, T* end, int n, const char* condition, const char* message) {
    if (n < 0) {
        RuntimeAssert(0, "n>=0", "Negative size of memory allocation requested");
        return nullptr;
    }
    ptrdiff_t room = end - position;
    if (static_cast<ptrdiff_t>(n) >= room) {
        RuntimeAssert(0, condition, message);
        return nullptr;
    }
    T* result = position;
    position += n;
    return result;
}

double* RealAlloc(int n) {
    ThreadContext* c = bufferedContext();
    if (!c) return nullptr;
    return bumpAllocate(c->currentMark.place.Realbuffer, c->EndRealbuffer, n,
                        "currentMark.place.Realbuffer<EndRealbuffer",
                        "Out of memory for reals\nIt could due to too large matrices, infinite recursion, or "
                        "uninitialized variables.\nYou can change the memory size by setting the variable "
                        "Advanced.RealBufferSize.");
}

int32_t* IntegerAlloc(int n) {
    ThreadContext* c = bufferedContext();
    if (!c) return nullptr;
    return bumpAllocate(c->currentMark.place.Integerbuffer, c->EndIntegerbuffer, n,
                        "currentMark.place.Integerbuffer<EndIntegerbuffer",
                        "Out of memory for integers\nIt could due to too large matrices, infinite recursion, or "
                        "uninitialized variables.\nYou can increase the size of 'Integerbuffer' in "
                        "wexalo/source/matrixop");
}

int32_t* SizeAlloc(int n) {
    ThreadContext* c = bufferedContext();
    if (!c) return nullptr;
    return bumpAllocate(c->currentMark.place.Sizebuffer, c->EndSizebuffer, n,
                        "currentMark.place.Sizebuffer<EndSizebuffer",
                        "Out of memory for array dimensions\nIt could due to too many matrices, infinite "
                        "recursion, or uninitialized variables.\nYou can increase the size of 'Sizebuffer' in "
                        "wexalo/source/matrixop");
}

const char** StringPointerAlloc(int n) {
    ThreadContext* c = bufferedContext();
    if (!c) return nullptr;
    return bumpAllocate(c->currentMark.place.Stringbuffer, c->EndStringbuffer, n,
                        "currentMark.place.Stringbuffer<EndStringbuffer",
                        "Out of memory for strings\nIt could due to too large matrices, infinite recursion, or "
                        "uninitialized variables.\nYou can increase the size of 'Stringbuffer' in "
                        "wexalo/source/matrixop");
}

SavedMarks PushMark(void) {
    ThreadContext* c = bufferedContext();
    if (!c) return SavedMarks{};
    SavedMarks saved{c->currentMark.place, c->enclosingMark};
    c->enclosingMark = c->currentMark.place;
    return saved;
}

void SaveMark(MarkPlace* destination) {
    SavedMarks saved = PushMark();
    if (destination) *destination = saved.current;
}

void ReleaseToMark(void) {
    ThreadContext* c = bufferedContext();
    if (!c) return;
    c->currentMark.place = c->enclosingMark;
}

void PopMark(SavedMarks saved) {
    ThreadContext* c = bufferedContext();
    if (!c) return;
    c->currentMark.place = saved.current;
    c->enclosingMark = saved.enclosing;
}

// Back to the buffer starts, or, inside a model evaluation, to the marks at
// its entry: an evaluation entered from within another one on this thread
// (a host evaluating a second instance from its logger, say) must not free
// the temporaries that the enclosing evaluation still uses.
void ResetMarks(void) {
    ThreadContext* c = bufferedContext();
    if (!c) return;
    const ErrorTrap* evaluation = runningEvaluation();
    if (evaluation && evaluation->savedCurrent.Realbuffer) {
        c->currentMark.place = evaluation->savedCurrent;
        c->enclosingMark = evaluation->savedEnclosing;
        c->stringmark = evaluation->savedStringmark;
        return;
    }
    c->currentMark.place = c->bufferStart;
    c->enclosingMark = c->startMark;
    c->stringmark = c->simplestring;
}

char* GetStringMark(void) {
    ThreadContext* c = bufferedContext();
    return c ? c->stringmark : nullptr;
}

void SetStringMark(char* position) {
    ThreadContext* c = bufferedContext();
    if (c && position) c->stringmark = position;
}

char* KeepString(char* text, char* position) {
    ThreadContext* c = bufferedContext();
    if (!c) return text;
    if (text < position || text >= c->stringmark) {
        c->stringmark = position;
        return text;
    }
    size_t length = strlen(text);
    if (text + length + 1 <= c->stringmark) {
        memmove(position, text, length + 1);
        c->stringmark = position + length + 1;
        return position;
    }
    return text;
}

void freeThreadBuffers(ThreadContext* c) {
    if (!c || !c->EndRealbuffer) return;
    free(c->bufferStart.Realbuffer);
    free(c->bufferStart.Integerbuffer);
    free(c->bufferStart.Sizebuffer);
    free(c->bufferStart.Stringbuffer);
    free(c->simplestring);
    c->bufferStart = MarkPlace{};
    c->startMark = MarkPlace{};
    c->currentMark.place = MarkPlace{};
    c->enclosingMark = MarkPlace{};
    c->stringmark = nullptr;
    c->simplestring = nullptr;
    c->Endsimplestring = nullptr;
    c->EndRealbuffer = nullptr;
    c->EndIntegerbuffer = nullptr;
    c->EndSizebuffer = nullptr;
    c->EndStringbuffer = nullptr;
}

void freeOwnThreadBuffers(void) {
    if (threadSlot < 0) return;
    ThreadContext* c = static_cast<ThreadContext*>(platformSlotGet(threadSlot));
    // Buffers in use by a running evaluation on this thread stay.
    if (c && !c->trap) freeThreadBuffers(c);
}

void releaseRuntimeBuffers(void) { freeOwnThreadBuffers(); }

void pushFunctionFrame(FunctionFrame* frame, const char* name) {
    ThreadContext* c = getThreadContext();
    frame->name = name;
    frame->next = c ? c->functionStack : nullptr;
    if (c) {
        c->functionStack = frame;
        c->depth++;
    }
}

void popFunctionFrame(FunctionFrame* frame) {
    ThreadContext* c = getThreadContext();
    if (c && c->functionStack == frame) {
        c->functionStack = frame->next;
        if (c->depth > 0) c->depth--;
    }
}

// ---- Error trap ----

int trapArm(ErrorTrap* trap) {
    ThreadContext* c = getThreadContext();
    if (!c) return 0;
    trap->context = c;
    trap->previous = c->trap;
    trap->savedBinding = c->boundModelData;
    trap->savedStack = c->functionStack;
    trap->savedDepth = c->depth;
    trap->savedCurrent = c->currentMark.place;
    trap->savedEnclosing = c->enclosingMark;
    trap->savedStringmark = c->stringmark;
    trap->armed = 1;
    trap->evaluation = 0;
    c->trap = trap;
    return 1;
}

void trapRestore(ErrorTrap* trap) {
    ThreadContext* c = trap->context;
    if (!c || !trap->armed) return;
    c->functionStack = trap->savedStack;
    c->depth = trap->savedDepth;
    // Buffers created during the call start from their beginning; buffers
    // that existed go back to the marks of the call's start.
    if (trap->savedCurrent.Realbuffer) {
        c->currentMark.place = trap->savedCurrent;
        c->enclosingMark = trap->savedEnclosing;
        c->stringmark = trap->savedStringmark;
    } else if (c->EndRealbuffer) {
        c->currentMark.place = c->bufferStart;
        c->enclosingMark = c->startMark;
        c->stringmark = c->simplestring;
    }
}

void trapDisarm(ErrorTrap* trap) {
    ThreadContext* c = trap->context;
    if (!c || !trap->armed) return;
    c->trap = trap->previous;
    c->boundModelData = trap->savedBinding;
    trap->armed = 0;
}

bool trapArmed() {
    ThreadContext* c = getThreadContext();
    return c && c->trap;
}

const ErrorTrap* runningEvaluation() {
    ThreadContext* c = getThreadContext();
    for (const ErrorTrap* t = c ? c->trap : nullptr; t; t = t->previous)
        if (t->evaluation) return t;
    return nullptr;
}
