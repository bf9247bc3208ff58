// Target memory: six primitives (one command exchange and one status query each, for one access
// width) and the composite Read and Write, which split any range into pieces the primitives take.
#include <algorithm>
#include <cstdint>

#include "DbgDev.h"
#include "ProbeCommands.h"

using dravik::CommandParams;
using dravik::ProbeCommand;
namespace cmd = dravik::cmd;

namespace {

constexpr unsigned short kMaxByteAccess = 64;
constexpr uint32_t kWordBlock = 1024;  // no 32-bit piece crosses a 1 KB boundary

// The data phase of a transfer carries no status word; its outcome comes from the status query,
// and only after an exchange that went through.
int Transfer(DbgDev& dev, const ProbeCommand& command, unsigned address, unsigned short size,
             void* data, uint32_t dataLength, unsigned* rwStatus, int apIndex) {
    int result = dravik::ExchangeData(
        dev, command, CommandParams().u32(address).u16(size).u8(static_cast<uint32_t>(apIndex)),
        data, dataLength);
    if (result == DBGDEV_OK) {
        result = dev.GetLastReadWriteStatus(rwStatus);
    }
    return result;
}

template <typename Byte>
using Primitive = int (DbgDev::*)(unsigned, Byte*, unsigned short, unsigned*, int);

template <typename Byte>
struct Primitives {
    Primitive<Byte> bits8;
    Primitive<Byte> bits16;
    Primitive<Byte> bits32;
};

// Pieces in ascending address order: a head up to a word boundary, 32-bit pieces that each end at
// a 1 KB boundary, the remaining words, then a half-word and/or bytes. The first failure ends it.
template <typename Byte>
int Split(DbgDev& dev, const Primitives<Byte>& p, bool fw16, unsigned address, Byte* buffer,
          unsigned size, unsigned* rwStatus, int apIndex) {
    uint32_t pos = address;
    uint32_t done = 0;
    const uint32_t end = address + size;  // 32-bit: 0 for a range that ends at the top
    auto piece = [&](Primitive<Byte> primitive, uint32_t bytes) {
        const int result = (dev.*primitive)(pos, buffer + done, static_cast<unsigned short>(bytes),
                                            rwStatus, apIndex);
        pos += bytes;
        done += bytes;
        return result;
    };

    int result = DBGDEV_OK;
    const uint32_t offset = address % 4;
    if ((address & 1u) != 0 || (offset == 2 && (!fw16 || size == 1))) {
        result = piece(p.bits8, std::min<uint32_t>(size, 4 - offset));
    } else if (offset == 2 && size >= 2) {
        result = piece(p.bits16, 2);
    }
    while (result == DBGDEV_OK && done < size && pos / kWordBlock != end / kWordBlock) {
        result = piece(p.bits32, kWordBlock - pos % kWordBlock);
    }
    if (result == DBGDEV_OK && ((size - done) & ~3u) != 0) {
        result = piece(p.bits32, (size - done) & ~3u);
    }
    if (result == DBGDEV_OK && size - done >= 2 && fw16) {
        result = piece(p.bits16, 2);
    }
    if (result == DBGDEV_OK && size - done != 0) {
        result = piece(p.bits8, size - done);
    }
    return result;
}

// The splitting assumes the range stays inside the 32-bit address space.
bool RunsPastTop(unsigned address, unsigned size) {
    return size != 0 && uint64_t{address} + size - 1 > UINT32_MAX;
}

}  // namespace

namespace {

// The 32- and 16-bit primitives differ only in these columns.
struct AlignedPrimitive {
    const ProbeCommand& command;
    unsigned alignment;
    const char* name;
    const char* direction;  // "from" or "to", as the failure text says
};

const AlignedPrimitive kRead32{cmd::ReadMemory32, 4, "ReadMemory_32Bit", "from"};
const AlignedPrimitive kWrite32{cmd::WriteMemory32, 4, "WriteMemory_32Bit", "to"};
const AlignedPrimitive kRead16{cmd::ReadMemory16, 2, "ReadMemory_16Bit", "from"};
const AlignedPrimitive kWrite16{cmd::WriteMemory16, 2, "WriteMemory_16Bit", "to"};

// Size 0 succeeds at once, then the buffer and the alignment (size first, then address) are
// checked before anything is sent. The record's buffer is not const, but nothing writes into a
// host-to-probe data phase.
int AlignedTransfer(DbgDev& dev, const AlignedPrimitive& p, unsigned address,
                    const unsigned char* buffer, unsigned short size, unsigned* rwStatus,
                    int apIndex) {
    if (size == 0) {
        return DBGDEV_OK;
    }
    if (buffer == nullptr) {
        return DBGDEV_BAD_ARGUMENT;
    }
    if (size % p.alignment != 0 || address % p.alignment != 0) {
        dev.LogTrace("Misaligned value in %s parameter (0x%06lx or 0x%06lx)", p.name,
                     static_cast<unsigned long>(size), static_cast<unsigned long>(address));
        return DBGDEV_BAD_ARGUMENT;
    }
    const int result = Transfer(dev, p.command, address, size, const_cast<unsigned char*>(buffer),
                                size, rwStatus, apIndex);
    if (result != DBGDEV_OK) {
        dev.LogTrace("Error (%d) in %s (%ld bytes %s 0x%06lx)", result, p.name,
                     static_cast<long>(size), p.direction, static_cast<unsigned long>(address));
    }
    return result;
}

}  // namespace

int DbgDev::ReadMemory_32Bit(unsigned address, unsigned char* buffer, unsigned short size,
                             unsigned* rwStatus, int apIndex) {
    return AlignedTransfer(*this, kRead32, address, buffer, size, rwStatus, apIndex);
}

int DbgDev::WriteMemory_32Bit(unsigned address, const unsigned char* buffer, unsigned short size,
                              unsigned* rwStatus, int apIndex) {
    return AlignedTransfer(*this, kWrite32, address, buffer, size, rwStatus, apIndex);
}

int DbgDev::ReadMemory_16Bit(unsigned address, unsigned char* buffer, unsigned short size,
                             unsigned* rwStatus, int apIndex) {
    if (!m_probeOpen) {
        return DBGDEV_NO_PROBE;
    }
    if (!IsMcoSelAndRW16bitFwCmdSupport()) {
        LogTrace(
            "The detected Dravik firmware version (V%d.J%d) does not support 16 bits accesses.",
            m_version.dravikVer, m_version.jtagVer);
        return DBGDEV_NOT_SUPPORTED;
    }
    return AlignedTransfer(*this, kRead16, address, buffer, size, rwStatus, apIndex);
}

int DbgDev::WriteMemory_16Bit(unsigned address, const unsigned char* buffer, unsigned short size,
                              unsigned* rwStatus, int apIndex) {
    if (!m_probeOpen) {
        return DBGDEV_NO_PROBE;
    }
    if (!IsMcoSelAndRW16bitFwCmdSupport()) {
        LogTrace(
            "The detected Dravik firmware version (V%d.J%d) does not support 16 bits accesses.",
            m_version.dravikVer, m_version.jtagVer);
        return DBGDEV_NOT_SUPPORTED;
    }
    return AlignedTransfer(*this, kWrite16, address, buffer, size, rwStatus, apIndex);
}

// A one-byte 8-bit transfer moves two bytes on the wire while its size field says 1.
int DbgDev::ReadMemory_8Bit(unsigned address, unsigned char* buffer, unsigned short size,
                            unsigned* rwStatus, int apIndex) {
    if (size > kMaxByteAccess || buffer == nullptr) {
        return DBGDEV_BAD_ARGUMENT;
    }
    int result;
    if (size == 1) {
        unsigned char pair[2] = {};
        result =
            Transfer(*this, cmd::ReadMemory8, address, size, pair, sizeof pair, rwStatus, apIndex);
        if (result == DBGDEV_OK) {
            buffer[0] = pair[0];
        }
    } else {
        result = Transfer(*this, cmd::ReadMemory8, address, size, buffer, size, rwStatus, apIndex);
    }
    if (result != DBGDEV_OK) {
        LogTrace("Error (%d) in ReadMemory_8Bit (%ld bytes from 0x%06lx)", result,
                 static_cast<long>(size), static_cast<unsigned long>(address));
    }
    return result;
}

int DbgDev::WriteMemory_8Bit(unsigned address, const unsigned char* buffer, unsigned short size,
                             unsigned* rwStatus, int apIndex) {
    if (size > kMaxByteAccess || buffer == nullptr) {
        return DBGDEV_BAD_ARGUMENT;
    }
    // The byte goes twice; a zero-length write must not read the caller's buffer at all.
    unsigned char pair[2] = {};
    if (size == 1) {
        pair[0] = pair[1] = buffer[0];
    }
    unsigned char* data = size == 1 ? pair : const_cast<unsigned char*>(buffer);
    const int result = Transfer(*this, cmd::WriteMemory8, address, size, data,
                                size == 1 ? sizeof pair : size, rwStatus, apIndex);
    if (result != DBGDEV_OK) {
        LogTrace("Error (%d) in WriteMemory_8Bit (%ld bytes from 0x%06lx)", result,
                 static_cast<long>(size), static_cast<unsigned long>(address));
    }
    return result;
}

int DbgDev::Read(unsigned address, unsigned char* buffer, unsigned size, unsigned* rwStatus,
                 int apIndex) {
    if (RunsPastTop(address, size)) {
        LogTrace("Range of %u bytes from 0x%08x runs past 0xFFFFFFFF in Read", size, address);
        return DBGDEV_BAD_ARGUMENT;
    }
    const Primitives<unsigned char> p{&DbgDev::ReadMemory_8Bit, &DbgDev::ReadMemory_16Bit,
                                      &DbgDev::ReadMemory_32Bit};
    return Split(*this, p, IsMcoSelAndRW16bitFwCmdSupport(), address, buffer, size, rwStatus,
                 apIndex);
}

int DbgDev::Write(unsigned address, const unsigned char* buffer, unsigned size, unsigned* rwStatus,
                  int apIndex) {
    if (RunsPastTop(address, size)) {
        LogTrace("Range of %u bytes from 0x%08x runs past 0xFFFFFFFF in Write", size, address);
        return DBGDEV_BAD_ARGUMENT;
    }
    const Primitives<const unsigned char> p{&DbgDev::WriteMemory_8Bit, &DbgDev::WriteMemory_16Bit,
                                            &DbgDev::WriteMemory_32Bit};
    return Split(*this, p, IsMcoSelAndRW16bitFwCmdSupport(), address, buffer, size, rwStatus,
                 apIndex);
}

bool DbgDev::IsRamLocation(unsigned address) {
    return (address >> 28) == 0x2;
}
