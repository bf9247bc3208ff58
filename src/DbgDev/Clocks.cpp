// Interface clocks (SWD and JTAG) for the three firmware families: fixed 1000 kHz,
// second-generation divider settings, third-generation kHz requests; and the third generation's
// probe frequency switch.
#include <iterator>

#include "DbgDev.h"
#include "ProbeCommands.h"
#include "WireConstants.h"

using dravik::CommandParams;
using dravik::Exchange;
namespace cmd = dravik::cmd;
namespace answer = dravik::answer;
using dravik::mode::TakesInterfaceCommands;

namespace {

constexpr unsigned char kComSwd = 0;
constexpr unsigned char kComJtag = 1;

struct ClockSetting {
    uint16_t divider;  // what second-generation firmware is sent
    uint32_t kHz;
};

// Indexed by DbgDev_SwClkT, fastest first.
constexpr ClockSetting kSwdSettings[] = {
    {0, 4000}, {1, 1800}, {3, 950},  {7, 480},  {15, 240}, {31, 125},
    {40, 100}, {79, 50},  {158, 25}, {265, 15}, {798, 5},
};
// Indexed by DbgDev_JtagClkT, fastest first.
constexpr ClockSetting kJtagSettings[] = {
    {4, 9000}, {8, 4500}, {16, 2250}, {32, 1125}, {64, 562}, {128, 281}, {256, 140},
};
constexpr int kSwdSettingCount = static_cast<int>(std::size(kSwdSettings));
constexpr int kJtagSettingCount = static_cast<int>(std::size(kJtagSettings));
static_assert(kSwdSettingCount == DbgDev_SwClk5KHz + 1, "one entry per SWD setting");
static_assert(kJtagSettingCount == DbgDev_JtagClk140KHz + 1, "one entry per JTAG setting");

// Out-of-range settings are not refused by the setters: they program these defaults instead.
constexpr int kSwdFallbackSetting = DbgDev_SwClk1800KHz;
constexpr int kJtagFallbackSetting = DbgDev_JtagClk1125KHz;

// What GetComFreq reports for second-generation firmware. The list holds 10 entries, so the SWD
// table's 15 kHz setting does not appear in it.
constexpr unsigned kFreqListSize = 10;
constexpr unsigned kSwdFixedList[kFreqListSize] = {4000, 1800, 950, 480, 240, 125, 100, 50, 25, 5};
constexpr unsigned kSwdFixedCount = 10;
constexpr unsigned kJtagFixedList[kFreqListSize] = {9000, 4500, 2250, 1125, 562, 281, 140, 0, 0, 0};
constexpr unsigned kJtagFixedCount = 7;

// Firmware without clock selection runs the interface at this frequency.
constexpr unsigned kFixedClockKHz = 1000;

bool IsAllowedSwitchDivider(unsigned char divider) {
    return divider == 1 || divider == 2 || divider == 4;
}

}  // namespace

int DbgDev::ConvComClockToFreqKHz(unsigned char com, DbgDev_SwClkT swClock,
                                  DbgDev_JtagClkT jtagClock, unsigned* freqKHz) {
    if (freqKHz == nullptr) {
        return DBGDEV_BAD_ARGUMENT;
    }
    if (com == kComSwd && swClock >= 0 && swClock < kSwdSettingCount) {
        *freqKHz = kSwdSettings[swClock].kHz;
        return DBGDEV_OK;
    }
    if (com == kComJtag && jtagClock >= 0 && jtagClock < kJtagSettingCount) {
        *freqKHz = kJtagSettings[jtagClock].kHz;
        return DBGDEV_OK;
    }
    return DBGDEV_BAD_ARGUMENT;
}

int DbgDev::ConvFreqKHzToComClock(unsigned char com, DbgDev_SwClkT* swClock,
                                  DbgDev_JtagClkT* jtagClock, unsigned freqKHz) {
    // The fastest setting that does not exceed the request.
    if (com == kComSwd && swClock != nullptr) {
        for (int s = 0; s < kSwdSettingCount; ++s) {
            if (kSwdSettings[s].kHz <= freqKHz) {
                *swClock = static_cast<DbgDev_SwClkT>(s);
                return DBGDEV_OK;
            }
        }
    } else if (com == kComJtag && jtagClock != nullptr) {
        for (int s = 0; s < kJtagSettingCount; ++s) {
            if (kJtagSettings[s].kHz <= freqKHz) {
                *jtagClock = static_cast<DbgDev_JtagClkT>(s);
                return DBGDEV_OK;
            }
        }
    }
    return DBGDEV_BAD_ARGUMENT;
}

// Sends a chosen setting, when the probe is in a mode that takes clock commands; an out-of-range
// setting programs the interface's default.
int DbgDev::ApplyClockSetting(unsigned char com, int clock) {
    const int result = Get_CurrentMode();
    if (result != DBGDEV_OK) {
        return result;
    }
    if (!TakesInterfaceCommands(m_probeMode)) {
        return DBGDEV_OK;  // applied at the next target connection
    }
    const bool swd = com == kComSwd;
    const int count = swd ? kSwdSettingCount : kJtagSettingCount;
    const int index =
        clock >= 0 && clock < count ? clock : (swd ? kSwdFallbackSetting : kJtagFallbackSetting);
    const ClockSetting& setting = swd ? kSwdSettings[index] : kJtagSettings[index];
    if (IsGetSetSwitchFreqFwCmdSupport()) {
        return SetComFreq(com, setting.kHz);
    }
    uint8_t reply[2] = {};
    const auto params = CommandParams().u16(setting.divider);
    return swd ? Exchange<cmd::SetSwdClockDivider>(*this, params, reply)
               : Exchange<cmd::SetJtagClockDivider>(*this, params, reply);
}

int DbgDev::SetSwClockFreq(DbgDev_SwClkT clock) {
    if (!m_probeOpen) {
        return DBGDEV_NO_PROBE;
    }
    if (!IsSwdClkFwCmdSupport() && !IsGetSetSwitchFreqFwCmdSupport()) {
        LogTrace(
            "The detected Orvane firmware version (V%d.J%d) does not support the SWCLK "
            "frequency selection. Default frequency kept.",
            m_version.dravikVer, m_version.jtagVer);
        return DBGDEV_NOT_SUPPORTED;
    }
    m_swdClock = clock;
    // An unknown setting leaves the remembered kHz as it was.
    (void)ConvComClockToFreqKHz(kComSwd, m_swdClock, m_jtagClock, &m_swdFreqKHz);
    return ApplyClockSetting(kComSwd, clock);
}

int DbgDev::SetJtagClockFreq(DbgDev_JtagClkT clock) {
    if (!m_probeOpen) {
        return DBGDEV_NO_PROBE;
    }
    if (!IsJtagClkFwCmdSupport() && !IsGetSetSwitchFreqFwCmdSupport()) {
        LogTrace(
            "The detected Orvane firmware version (V%d.J%d) does not support the JCLK "
            "frequency selection. Default frequency kept.",
            m_version.dravikVer, m_version.jtagVer);
        return DBGDEV_NOT_SUPPORTED;
    }
    m_jtagClock = clock;
    // An unknown setting leaves the remembered kHz as it was.
    (void)ConvComClockToFreqKHz(kComJtag, m_swdClock, m_jtagClock, &m_jtagFreqKHz);
    return ApplyClockSetting(kComJtag, clock);
}

int DbgDev::SetComFreq(unsigned char com, unsigned freqKHz) {
    if (!m_probeOpen) {
        return DBGDEV_NO_PROBE;
    }
    if (com != kComSwd && com != kComJtag) {
        LogTrace("Com parameter, %d, is not set to JTAG or SWD.", com);
        return DBGDEV_BAD_ARGUMENT;
    }
    uint32_t& rememberedKHz = com == kComSwd ? m_swdFreqKHz : m_jtagFreqKHz;
    const bool clockCommand = com == kComSwd ? IsSwdClkFwCmdSupport() : IsJtagClkFwCmdSupport();

    if (IsGetSetSwitchFreqFwCmdSupport()) {
        // Third generation: the probe takes kHz and says what it really applied.
        rememberedKHz = freqKHz;
        int result = Get_CurrentMode();
        if (result != DBGDEV_OK) {
            return result;
        }
        if (!TakesInterfaceCommands(m_probeMode)) {
            return DBGDEV_OK;  // kept for the next connection
        }
        uint8_t reply[8] = {};
        result =
            Exchange<cmd::SetComFreq>(*this, CommandParams().u8(com).u8(0).u32(freqKHz), reply);
        const uint32_t appliedKHz = dravik::LoadLe32(reply + answer::kWord);
        if (result == DBGDEV_OK && appliedKHz != freqKHz) {
            rememberedKHz = appliedKHz;
            LogTrace(
                " For Target communication %d (0:SWD/1:JTAG) real freq applied is %d KHz, "
                "requested freq was %d KHz.",
                com, static_cast<int>(appliedKHz), static_cast<int>(freqKHz));
            return DBGDEV_FREQUENCY_DIFFERS;
        }
        return result;
    }

    if (!clockCommand) {
        // Fixed-clock firmware: nothing to send, the interface runs at 1000 kHz.
        rememberedKHz = kFixedClockKHz;
        if (freqKHz > kFixedClockKHz) {
            LogTrace(
                " For Target communication %d (0:SWD/1:JTAG) real freq applied is 1000 KHz, "
                "requested freq was %d KHz.",
                com, static_cast<int>(freqKHz));
            return DBGDEV_FREQUENCY_DIFFERS;
        }
        return freqKHz == kFixedClockKHz ? DBGDEV_OK : DBGDEV_BAD_ARGUMENT;
    }

    // Second generation: the nearest setting at or below the request.
    DbgDev_SwClkT swClock = m_swdClock;
    DbgDev_JtagClkT jtagClock = m_jtagClock;
    int result = ConvFreqKHzToComClock(com, &swClock, &jtagClock, freqKHz);
    if (result != DBGDEV_OK) {
        return result;
    }
    // A setting the setter could not apply is not remembered: the clock members stay as they were
    // and the setter's code is returned, so that a failure never reads as the warning 36.
    const DbgDev_SwClkT swdBefore = m_swdClock;
    const DbgDev_JtagClkT jtagBefore = m_jtagClock;
    const uint32_t kHzBefore = rememberedKHz;
    uint32_t settingKHz;
    if (com == kComSwd) {
        result = SetSwClockFreq(swClock);
        settingKHz = kSwdSettings[swClock].kHz;
    } else {
        result = SetJtagClockFreq(jtagClock);
        settingKHz = kJtagSettings[jtagClock].kHz;
    }
    if (result != DBGDEV_OK) {
        m_swdClock = swdBefore;
        m_jtagClock = jtagBefore;
        rememberedKHz = kHzBefore;
        return result;
    }
    rememberedKHz = settingKHz;
    if (settingKHz != freqKHz) {
        LogTrace(
            " For Target communication %d (0:SWD/1:JTAG) real freq applied is %d KHz, "
            "requested freq was %d KHz.",
            com, static_cast<int>(settingKHz), static_cast<int>(freqKHz));
        return DBGDEV_FREQUENCY_DIFFERS;
    }
    return DBGDEV_OK;
}

int DbgDev::GetComFreq(unsigned char com, unsigned* currentKHz, unsigned* count, unsigned* list) {
    if (!m_probeOpen) {
        return DBGDEV_NO_PROBE;
    }
    if (currentKHz == nullptr || count == nullptr || list == nullptr) {
        return DBGDEV_BAD_ARGUMENT;
    }
    if (com != kComSwd && com != kComJtag) {
        LogTrace("Com parameter, %d, is not set to JTAG or SWD.", com);
        return DBGDEV_BAD_ARGUMENT;
    }
    const bool clockCommand = com == kComSwd ? IsSwdClkFwCmdSupport() : IsJtagClkFwCmdSupport();

    if (IsGetSetSwitchFreqFwCmdSupport()) {
        int result = Get_CurrentMode();
        if (result != DBGDEV_OK) {
            return result;
        }
        if (!TakesInterfaceCommands(m_probeMode)) {
            return DBGDEV_NOT_SUPPORTED;  // only a probe in idle or debug mode can tell
        }
        uint8_t reply[52] = {};
        result = Exchange<cmd::GetComFreq>(*this, CommandParams().u8(com), reply);
        if (result == DBGDEV_OK) {
            *currentKHz = dravik::LoadLe32(reply + answer::kWord);
            *count = dravik::LoadLe32(reply + answer::kSecondWord);
            for (unsigned i = 0; i < kFreqListSize; ++i) {
                list[i] = dravik::LoadLe32(reply + answer::kFrequencyList + 4 * i);
            }
        }
        return result;
    }

    if (!clockCommand) {
        *currentKHz = kFixedClockKHz;
        *count = 1;
        list[0] = kFixedClockKHz;
        for (unsigned i = 1; i < kFreqListSize; ++i) {
            list[i] = 0;
        }
        return DBGDEV_OK;
    }

    const int result = ConvComClockToFreqKHz(com, m_swdClock, m_jtagClock, currentKHz);
    if (result != DBGDEV_OK) {
        return result;
    }
    const unsigned* fixedList = com == kComSwd ? kSwdFixedList : kJtagFixedList;
    *count = com == kComSwd ? kSwdFixedCount : kJtagFixedCount;
    for (unsigned i = 0; i < kFreqListSize; ++i) {
        list[i] = fixedList[i];
    }
    return DBGDEV_OK;
}

int DbgDev::SwitchDravikFreq(unsigned char divider, unsigned* value) {
    if (!m_probeOpen) {
        return DBGDEV_NO_PROBE;
    }
    if (!IsGetSetSwitchFreqFwCmdSupport()) {
        LogTrace(
            "The detected Orvane firmware version (V%d.J%d) does not support the communication "
            "frequency selection (support started on V3). Default frequency kept.",
            m_version.dravikVer, m_version.jtagVer);
        return DBGDEV_NOT_SUPPORTED;
    }
    if (!IsAllowedSwitchDivider(divider)) {
        LogTrace("divider not supported, %d, (1, 2 or 4 supported).", divider);
        return DBGDEV_BAD_ARGUMENT;
    }
    // The answer is always stored through `value`: refuse a null one before the probe is touched,
    // rather than switching its frequency and then failing to report the outcome.
    if (value == nullptr) {
        return DBGDEV_BAD_ARGUMENT;
    }
    int result = Get_CurrentMode();
    if (result != DBGDEV_OK) {
        return result;
    }
    if (!TakesInterfaceCommands(m_probeMode)) {
        return DBGDEV_OK;
    }
    uint8_t reply[8] = {};
    result = Exchange<cmd::SwitchFreq>(*this, CommandParams().u8(divider), reply);
    // Only a switch that changed the probe's settings carries a value worth handing on.
    *value = result == DBGDEV_SETTINGS_CHANGED ? dravik::LoadLe32(reply + answer::kWord) : 0;
    return result;
}
