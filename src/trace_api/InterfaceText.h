// Bounded writes into the interface's 256-byte text buffers: each write replaces the whole content.
#ifndef DRAVIK_INTERFACE_TEXT_H
#define DRAVIK_INTERFACE_TEXT_H

#include <cstdarg>
#include <cstdio>

#include "DravikTrace.h"

namespace dravik {

__attribute__((format(printf, 2, 3))) inline void SetText(char (&buffer)[DRAVIK_TEXT_SIZE],
                                                          const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
}

// The common prologue of the exported functions: clear the texts, name the step, get the object.
DbgDev* BeginCall(const char* functionName);

}  // namespace dravik

#endif
