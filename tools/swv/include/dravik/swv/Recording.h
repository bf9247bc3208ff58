// Layout of a trace recording (`dravik-swv capture --raw`): a header that says how the trace was
// produced, then records in arrival order, each with the host time at which its bytes were read.
// Every field is little-endian; both records are written and read as these exact bytes.
//
//   file   := header record*
//   record := RecordHeader payload   (payload: `length` bytes for a data record, none otherwise)
#pragma once

#include <cstddef>
#include <cstdint>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "recordings are read and written in host order, which must be little-endian");

namespace dravik::swv {

// A first byte that is not ASCII, then a name, then bytes that text-mode transfers mangle.
inline constexpr uint8_t kRecordingMagic[8] = {0x89, 'D', 'S', 'W', 'V', '\r', '\n', 0x1A};
inline constexpr uint16_t kRecordingVersion = 1;
inline constexpr size_t kSerialFieldSize = 32;

// Every field sits at a multiple of its size, so neither record needs packing; the asserts below
// pin the layout.
struct RecordingHeader {
    uint8_t magic[8];
    uint16_t version;       // kRecordingVersion
    uint16_t headerSize;    // sizeof(RecordingHeader); records start here
    uint32_t flags;         // none defined yet: 0
    uint32_t traceClockHz;  // the clock the TPIU divides
    uint32_t prescaler;     // TPIU divider (TPIU_ACPR + 1)
    uint32_t swoRateBps;    // traceClockHz / prescaler, truncated, as the probe was told
    uint32_t stimulusMask;  // stimulus ports the capture enabled
    uint8_t txModeFlags;    // allowed encodings: 1 NRZ, 2 Manchester, 3 either
    uint8_t pinProtocol;    // TPIU_SPPR after setup: 1 Manchester, 2 NRZ; 0 not known
    uint16_t reserved0;
    uint32_t itmTcr;                // ITM_TCR after setup (TSENA, TSPrescale); 0 not known
    int64_t startTimeUs;            // wall clock at the start, microseconds since the Unix epoch
    char serial[kSerialFieldSize];  // probe serial number, zero-padded
    uint8_t reserved1[16];
};

struct RecordHeader {
    uint8_t type;       // RecordType
    uint8_t cause;      // GapCause of a gap record, else 0
    uint16_t reserved;  // 0
    uint32_t length;    // data: payload bytes that follow; gap: bytes lost (0: not known); end: 0
    uint64_t timeUs;    // host time since the start, in microseconds (a steady clock)
};

static_assert(sizeof(RecordingHeader) == 96);
static_assert(alignof(RecordingHeader) == 8);
static_assert(offsetof(RecordingHeader, version) == 8);
static_assert(offsetof(RecordingHeader, headerSize) == 10);
static_assert(offsetof(RecordingHeader, flags) == 12);
static_assert(offsetof(RecordingHeader, traceClockHz) == 16);
static_assert(offsetof(RecordingHeader, prescaler) == 20);
static_assert(offsetof(RecordingHeader, swoRateBps) == 24);
static_assert(offsetof(RecordingHeader, stimulusMask) == 28);
static_assert(offsetof(RecordingHeader, txModeFlags) == 32);
static_assert(offsetof(RecordingHeader, pinProtocol) == 33);
static_assert(offsetof(RecordingHeader, reserved0) == 34);
static_assert(offsetof(RecordingHeader, itmTcr) == 36);
static_assert(offsetof(RecordingHeader, startTimeUs) == 40);
static_assert(offsetof(RecordingHeader, serial) == 48);
static_assert(offsetof(RecordingHeader, reserved1) == 80);

static_assert(sizeof(RecordHeader) == 16);
static_assert(offsetof(RecordHeader, cause) == 1);
static_assert(offsetof(RecordHeader, reserved) == 2);
static_assert(offsetof(RecordHeader, length) == 4);
static_assert(offsetof(RecordHeader, timeUs) == 8);

enum class RecordType : uint8_t {
    Data = 1,  // bytes as the probe delivered them
    Gap = 2,   // trace known to be missing here
    End = 3,   // the capture ended normally; a recording without one was cut short
};

enum class GapCause : uint8_t {
    None = 0,
    QueueFull = 1,     // the tool's own queue was full: `length` bytes were dropped
    ProbeDropped = 2,  // the library discarded pending bytes (result 403); count not known
    ReadFailure = 3,   // a trace read failed; whatever was pending may be gone
};

const char* gapCauseName(GapCause cause) noexcept;

// What a recording says about how its trace was produced.
struct RecordingSettings {
    uint32_t traceClockHz = 0;
    uint32_t prescaler = 0;
    uint32_t stimulusMask = 0;
    uint8_t txModeFlags = 0;
    uint8_t pinProtocol = 0;
    uint32_t itmTcr = 0;
    int64_t startTimeUs = 0;
    const char* serial = "";
};

RecordingHeader makeRecordingHeader(const RecordingSettings& settings) noexcept;

// The ITM timestamp clock a recording implies: the trace clock over ITM_TCR.TSPrescale (1, 4, 16
// or 64). 0 when the clock is not known.
double timestampClockHz(uint32_t traceClockHz, uint32_t itmTcr) noexcept;

}  // namespace dravik::swv
