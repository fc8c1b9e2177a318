// FMU states: a second ModelInstance record that holds a copy of everything an
// instance needs to continue its simulation from a saved point.
#pragma once

#include "instance.h"

extern "C" {

// Copies the simulation state from `source` to `destination` (instance to
// state or back): values, mode, time, the shared blocks and the whole
// ModelData with its delay buffers. 0 on success, 1 when memory runs out, 2
// when the two records' delay buffers do not match.
int copyFMUstate(const ModelInstance* source, ModelInstance* destination, const fmi2CallbackFunctions* functions);

} // extern "C"

// A new, empty state record sized for `instance` (with `nx` states), or NULL
// when memory runs out (nothing logged, nothing left allocated).
ModelInstance* newFMUstate(ModelInstance* instance, uint64_t nx);

// Releases a state record and everything it owns through the instance's allocator.
void releaseFMUstate(ModelInstance* instance, ModelInstance* state);

// Whether the two records have the same sizes (a state fits the instance).
bool sameSizes(const ModelInstance* a, const ModelInstance* b);

// A snapshot: everything of the instance a state holds (values, flags, mode,
// time, shared blocks, ModelData) and its input extrapolation, but not the
// integrator's history or counters, so that putting it back restarts nothing,
// nor what no model evaluation writes: the delay buffers (the runtime has no
// delay operator that would fill them), and the work area and resources
// directory of ModelData.
// Neither call logs. takeSnapshot keeps it in *snapshot (made on first use,
// reused after): 0, or 1 when memory runs out (*snapshot is then NULL).
// restoreSnapshot puts it back; it allocates nothing and cannot fail.
int takeSnapshot(ModelInstance* instance, fmi2FMUstate* snapshot);
void restoreSnapshot(ModelInstance* instance, fmi2FMUstate snapshot);
