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

// The copy-out of DravikLastError and DravikLastWarning: `text` into `message`, which holds
// *length + 1 bytes; 0 (whole), 1 (no text), -1 (cut: *length unchanged) or 20.
inline int CopyOutText(const char (&text)[DRAVIK_TEXT_SIZE], char* message, int* length) {
    if (length == nullptr) {
        return DRAVIK_BAD_ARGUMENT;
    }
    if (text[0] == '\0') {
        *length = 0;
        return DRAVIK_NO_MESSAGE;
    }
    // A negative capacity has no sensible meaning: refuse it rather than guess.
    if (*length < 0 || message == nullptr) {
        return DRAVIK_BAD_ARGUMENT;
    }
    const int n = static_cast<int>(strnlen(text, DRAVIK_TEXT_SIZE));
    if (n + 1 < *length) {
        // The terminator is stored, not copied: a host may have filled all 256 bytes of the
        // exported buffer, leaving none behind the text.
        std::memcpy(message, text, static_cast<size_t>(n));
        message[n] = '\0';
        *length = n;
        return DRAVIK_OK;
    }
    // Cut: the first *length bytes (never more than the text holds) and a terminator after them.
    const int copied = *length < DRAVIK_TEXT_SIZE ? *length : DRAVIK_TEXT_SIZE;
    std::memcpy(message, text, static_cast<size_t>(copied));
    for (int i = copied; i <= *length; ++i) {
        message[i] = '\0';
    }
    return DRAVIK_IGNORED;
}

// The common prologue of the exported functions: clear the texts, name the step, get the object.
DbgDev* BeginCall(const char* functionName);

}  // namespace dravik

#endif
