// Logging to the host: messages of the FMI layer, pending text that rides in
// front of the next message, and the bridge for the runtime's messages.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "instance.h"
#include "runtime.h"

// The host's logger takes its message as a printf format: every '%' of the
// finished text is sent as "%%", so it reaches the host as one '%'.
static void escapePercent(const char* text, char* out, size_t size) {
    size_t n = 0;
    for (const char* p = text; *p && n + 2 < size; ++p) {
        if (*p == '%') out[n++] = '%';
        out[n++] = *p;
    }
    out[n] = '\0';
}

int logMessageV(ModelInstance* instance, const char* name, fmi2Status status, const char* category,
                const char* format, va_list args) {
    if (!instance || !instance->functions || !instance->functions->logger) return 0;
    if (!instance->loggingOn && status == fmi2OK) return 0;

    char buffer[1024];
    size_t used = 0;
    // Pending text first, copied as it is.
    if (instance->messagePrefixEnd && instance->messagePrefixEnd > instance->messagePrefix) {
        used = static_cast<size_t>(instance->messagePrefixEnd - instance->messagePrefix);
        if (used > sizeof buffer - 1) used = sizeof buffer - 1;
        memcpy(buffer, instance->messagePrefix, used);
    }
    buffer[used] = '\0';
    vsnprintf(buffer + used, sizeof buffer - used, format ? format : "", args);

    char escaped[2 * sizeof buffer];
    escapePercent(buffer, escaped, sizeof escaped);
    instance->functions->logger(instance->functions->componentEnvironment, name ? name : "", status,
                                category ? category : "", escaped);
    instance->messagePrefixEnd = instance->messagePrefix;
    return 1;
}

int logMessage(ModelInstance* instance, const char* name, fmi2Status status, const char* category,
               const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = logMessageV(instance, name, status, category, format, args);
    va_end(args);
    return result;
}

static void bufferMessageV(ModelInstance* instance, fmi2Status status, const char* format, va_list args) {
    if (!instance) return;
    if (!instance->loggingOn && status == fmi2OK) return;
    char* start = instance->messagePrefix;
    char* end = start + sizeof instance->messagePrefix;
    if (!instance->messagePrefixEnd || instance->messagePrefixEnd < start || instance->messagePrefixEnd >= end)
        instance->messagePrefixEnd = start;
    size_t room = static_cast<size_t>(end - instance->messagePrefixEnd);
    int length = vsnprintf(instance->messagePrefixEnd, room, format ? format : "", args);
    if (length > 0 && static_cast<size_t>(length) < room) {
        instance->messagePrefixEnd += length;
    } else {
        // No room, empty text, cut text or a formatting error: drop all pending text.
        instance->messagePrefixEnd = start;
        start[0] = '\0';
    }
}

void bufferMessage(ModelInstance* instance, const char* name, fmi2Status status, const char* category,
                   const char* format, ...) {
    (void)name;
    (void)category;
    va_list args;
    va_start(args, format);
    bufferMessageV(instance, status, format, args);
    va_end(args);
}

size_t copyRuntimeText(const char* text, char* out, size_t size) {
    if (size == 0) return 0;
    size_t n = 0;
    for (const char* p = text ? text : ""; *p && n < size - 1; ++p) {
        out[n++] = *p;
        if (*p == '#' && n < size - 1) out[n++] = '#';
    }
    out[n] = '\0';
    return n;
}

void logModelMessage(const char* text, int immediate, int type) {
    char buffer[4096];
    copyRuntimeText(text, buffer, sizeof buffer);

    fmi2Status status = type == 0 ? fmi2OK : type == 1 ? fmi2Warning : fmi2Error;
    ModelInstance* target = singleInstance ? singleInstance : instanceInModelCall;
    if (!target) return;
    if (immediate)
        logMessage(target, target->instanceName, status, "", "%s", buffer);
    else
        bufferMessage(target, target->instanceName, status, "", "%s", buffer);
}
