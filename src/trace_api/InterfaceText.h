// Bounded writes into the interface's 256-byte text buffers: each write replaces the whole content.
#ifndef DRAVIK_INTERFACE_TEXT_H
#define DRAVIK_INTERFACE_TEXT_H

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "DravikTrace.h"

namespace dravik {

__attribute__((format(printf, 2, 3))) inline void SetText(char (&buffer)[DRAVIK_TEXT_SIZE],
                                                          const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    // Nothing of an earlier, longer text stays behind the terminator.
    const size_t used = n < 0 ? 0 : (size_t(n) < sizeof buffer ? size_t(n) : sizeof buffer - 1);
    std::memset(buffer + used, 0, sizeof buffer - used);
}

// The common prologue of the exported functions: clear the texts, name the step, get the object.
DbgDev* BeginCall(const char* functionName);

}  // namespace dravik

#endif
