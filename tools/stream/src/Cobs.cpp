#include "dravik/stream/Cobs.h"

namespace dravik::stream {

size_t cobsEncode(const uint8_t* data, size_t size, uint8_t* out) {
    CobsWriter writer(out);
    writer.put(data, size);
    return writer.finish();
}

std::optional<size_t> cobsDecode(const uint8_t* data, size_t size, uint8_t* out) {
    if (size == 0) {
        return std::nullopt;
    }
    size_t in = 0;
    size_t written = 0;
    while (in < size) {
        const uint8_t code = data[in++];
        if (code == 0) {
            return std::nullopt;
        }
        const size_t run = code - 1u;
        if (run > size - in) {
            return std::nullopt;
        }
        for (size_t i = 0; i < run; ++i) {
            const uint8_t byte = data[in + i];
            if (byte == 0) {
                return std::nullopt;
            }
            out[written++] = byte;
        }
        in += run;
        // A group shorter than the longest stood for a zero, except the last: the frame's end.
        if (code != 0xFF && in < size) {
            out[written++] = 0;
        }
    }
    return written;
}

}  // namespace dravik::stream
