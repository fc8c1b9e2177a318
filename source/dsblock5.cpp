// Delay buffers: the history storage of delayed signals, one record per
// buffer in ModelData, allocated at the first initial call.
#include <stdlib.h>
#include <string.h>

#include "locale_c.h"
#include "runtime.h"

int Buffersize = 20000;

int delayBuffersAllocate(DelayBuffer* buffers, int n, int size) {
    if (!buffers || n <= 0) return 0;
    for (int i = 0; i < n; ++i) {
        double* storage = size > 0 ? static_cast<double*>(calloc(2 * static_cast<size_t>(size), sizeof(double)))
                                   : nullptr;
        if (!storage) {
            char text[300];
            snprintf_C(text, sizeof text,
                       "Failed to allocate memory for delay.\n You might decrease the number of delays\n  or the "
                       "'double Buffersize=%d;' in wexalo/source/dsblock5\n",
                       size);
            runtimeMessageLevel(2, text);
            delayBuffersFree(buffers, i);
            return 1;
        }
        buffers[i].times = storage;
        buffers[i].values = storage + size;
        buffers[i].size = size;
    }
    return 0;
}

int delayBuffersCopy(DelayBuffer* destination, const DelayBuffer* source, int n) {
    if (!destination || !source) return 0;
    for (int i = 0; i < n; ++i) {
        DelayBuffer& d = destination[i];
        const DelayBuffer& s = source[i];
        size_t count = s.size > 0 && s.times ? 2 * static_cast<size_t>(s.size) : 0;
        if (d.size != s.size || (count && !d.times)) {
            free(d.times);
            memset(&d, 0, sizeof d);
            if (count) {
                d.times = static_cast<double*>(malloc(count * sizeof(double)));
                // A failed copy leaves the destination empty, never a size without storage.
                if (!d.times) return 1;
            }
        }
        double* storage = d.times;
        if (count) memcpy(storage, s.times, count * sizeof(double));
        d = s;
        d.times = count ? storage : nullptr;
        d.values = count ? storage + s.size : nullptr;
        if (!count) {
            free(storage);
            d.size = 0;
        }
    }
    return 0;
}

void delayBuffersFree(DelayBuffer* buffers, int n) {
    if (!buffers) return;
    for (int i = 0; i < n; ++i) {
        free(buffers[i].times);
        memset(&buffers[i], 0, sizeof(DelayBuffer));
    }
}

void delayBufferList(ModelData* modelData, DelayBuffer** buffers, int* count) {
    if (count) *count = MODEL_NDELAY;
    if (buffers) *buffers = (modelData ? modelData : modelDataTemplate())->delays;
}
