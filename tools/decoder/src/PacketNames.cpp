#include <array>

#include "dravik/itm/Packet.h"

namespace dravik::itm {

namespace {

constexpr std::array<const char*, kPacketKindCount> kPacketKindNames = {
    "sync",
    "overflow",
    "instrumentation",
    "event counter",
    "exception trace",
    "PC sample",
    "PC sleep",
    "data trace PC",
    "data trace address",
    "data trace value",
    "local timestamp 1",
    "local timestamp 2",
    "global timestamp 1",
    "global timestamp 2",
    "stimulus page",
    "extension",
};
static_assert(static_cast<size_t>(PacketKind::Extension) + 1 == kPacketKindCount,
              "kPacketKindCount must follow the last PacketKind");

constexpr std::array<const char*, 4> kRelationNames = {
    "synchronous",
    "timestamp delayed",
    "packet delayed",
    "both delayed",
};

constexpr std::array<const char*, 4> kFunctionNames = {
    "none",
    "entered",
    "exited",
    "returned",
};

template <size_t N>
const char* lookup(const std::array<const char*, N>& names, size_t index) noexcept {
    return index < N ? names[index] : "unknown";
}

}  // namespace

const char* packetKindName(PacketKind kind) noexcept {
    return lookup(kPacketKindNames, static_cast<size_t>(kind));
}

const char* timestampRelationName(TimestampRelation relation) noexcept {
    return lookup(kRelationNames, static_cast<size_t>(relation));
}

const char* exceptionFunctionName(ExceptionFunction function) noexcept {
    return lookup(kFunctionNames, static_cast<size_t>(function));
}

}  // namespace dravik::itm
