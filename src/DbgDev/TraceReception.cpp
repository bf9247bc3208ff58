// The probe's SWV receiver: start, stop, pending byte count and the trace stream read. The object
// keeps no state of its own for the receiver; it lives in the probe.
#include "DbgDev.h"
#include "ProbeCommands.h"

using dravik::CommandParams;
using dravik::Exchange;
namespace cmd = dravik::cmd;

namespace {

// Every trace command is refused with the same text on firmware that lacks the receiver.
int RefuseWithoutSwv(DbgDev& dev, const VERSION_EXT& version) {
    dev.LogTrace(
        "The detected Orvane firmware version (V%d.J%d) does not support the SWV trace "
        "commands.",
        static_cast<int>(version.dravikVer), static_cast<int>(version.jtagVer));
    return DBGDEV_NOT_SUPPORTED;
}

}  // namespace

int DbgDev::StartSWVTraceReception(unsigned swoRate, unsigned short bufferSize) {
    if (!IsVoltageNrstAndSwvFwCmdSupport()) {
        return RefuseWithoutSwv(*this, m_version);
    }
    uint8_t answer[2] = {};
    return Exchange<cmd::StartSwv>(*this, CommandParams().u16(bufferSize).u32(swoRate), answer);
}

int DbgDev::StopSWVTraceReception() {
    if (!IsVoltageNrstAndSwvFwCmdSupport()) {
        return RefuseWithoutSwv(*this, m_version);
    }
    uint8_t answer[2] = {};
    return Exchange<cmd::StopSwv>(*this, CommandParams(), answer);
}

int DbgDev::GetSWVTraceNewRecordNb(unsigned short* count) {
    if (!IsVoltageNrstAndSwvFwCmdSupport()) {
        return RefuseWithoutSwv(*this, m_version);
    }
    if (count == nullptr) {
        return DBGDEV_BAD_ARGUMENT;
    }
    // The answer is the little-endian count itself, received straight into the caller's variable.
    return dravik::ExchangeInto<cmd::SwvPendingCount>(*this, CommandParams(), count);
}

int DbgDev::GetSWVTraceRecords(unsigned char* data, unsigned short count) {
    if (!IsVoltageNrstAndSwvFwCmdSupport()) {
        return RefuseWithoutSwv(*this, m_version);
    }
    if (data == nullptr) {
        return DBGDEV_BAD_ARGUMENT;
    }
    return dravik::ExchangeData(*this, cmd::ReadTrace, CommandParams(), data, count);
}
