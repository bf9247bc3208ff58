// DravikEnumerateDevices: one text line per connected probe.
#include <cstdio>
#include <cstring>

#include "DbgDev.h"
#include "InterfaceText.h"

namespace {
constexpr int kLineBufferSize = 512;
constexpr unsigned kSerialFieldSize = 32;
}  // namespace

extern "C" DRAVIK_API int DravikEnumerateDevices(const char* driverPath, char* list, int* listSize,
                                                 int* deviceCount) {
    DbgDev* dev = dravik::BeginCall("DravikEnumerateDevices");
    if (dev == nullptr) {
        return DRAVIK_NO_DEVICE_OBJECT;
    }
    if (list == nullptr || listSize == nullptr || deviceCount == nullptr) {
        dravik::SetText(g_errorMsg, "Unable to enumerate, null %s",
                        list == nullptr       ? "list"
                        : listSize == nullptr ? "listSize"
                                              : "deviceCount");
        return DRAVIK_BAD_ARGUMENT;
    }
    int count = 0;
    const int status = dev->EnumerateDevInterface(driverPath, &count, 0);
    if (status != DBGDEV_OK) {
        dravik::SetText(g_errorMsg, "Unable to enumerate, status: %d\n", status);
        return DRAVIK_ENUMERATION_FAILED;
    }
    const int capacity = *listSize;
    *listSize = 0;
    *deviceCount = 0;
    int result = DRAVIK_OK;
    for (int i = 0; i < count; ++i) {
        TDeviceInfo2 info{};
        const int s = dev->GetDeviceInfo2(i, &info, sizeof info);
        if (s != DBGDEV_OK) {
            dravik::SetText(g_warningMsg, "Unable to read info for %d, status: %d", i, s);
            --result;
            continue;
        }
        // The driver may fill the serial field without a terminator: read at most its 32 bytes.
        char serial[kSerialFieldSize + 1];
        std::memcpy(serial, info.serialNumber, kSerialFieldSize);
        serial[kSerialFieldSize] = '\0';
        char line[kLineBufferSize];
        const int length =
            std::snprintf(line, sizeof line, "%s\t%d\t%d\n", serial,
                          static_cast<int>(info.productId), static_cast<int>(info.vendorId));
        if (length < 0 || length >= kLineBufferSize - 1) {
            dravik::SetText(g_warningMsg,
                            "Retrieved device resulting in too long device string, ignoring");
            --result;
            continue;
        }
        if (*listSize + length + 1 < capacity) {
            std::memcpy(list + *listSize, line, static_cast<size_t>(length));
            *listSize += length;
            list[*listSize] = '\0';
            ++*deviceCount;
        } else {
            dravik::SetText(g_warningMsg,
                            "Device information could not be written to return buffer, ignoring");
            --result;
        }
    }
    return result;
}
