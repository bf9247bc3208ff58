// Construction, destruction, diagnostics and the result texts of the device object.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "DbgDev.h"

DbgDev::DbgDev(TEnumDravikInterface interface)
    : m_probeOpen(false),
      m_targetOpen(false),
      m_version{},
      m_usbHandle(nullptr),
      m_tcpConnectionId(0),
      m_probeMode(0xFF),
      m_probeSubMode(0),
      m_deviceCount(0),
      m_openExclusive(false),
      m_driverPath{},
      m_enumInitDone(false),
      m_enumerated(false),
      m_interface(interface),
      m_tcpServerAddress{},
      m_tcpServerCmdArgs{"-a"},
      m_swdClock(DbgDev_SwClk1800KHz),
      m_jtagClock(DbgDev_JtagClk1125KHz),
      m_swdFreqKHz(1800),
      m_jtagFreqKHz(1125),
      m_softBreakpoints(),
      m_flashPatchUsed(0),
      m_flashPatch{},
      m_fpbCodeComparators(kFlashPatchSlots),
      m_coreIdentified(false),
      m_fpbRev2(false),
      m_logSink(nullptr),
      m_logContext(nullptr) {
    // The register caches have no meaningful value before the first read; zero keeps them defined.
    std::memset(m_coreRegs, 0, sizeof m_coreRegs);
    std::memset(m_fpuRegs, 0, sizeof m_fpuRegs);
}

DbgDev::~DbgDev() {
    CloseDevice(0);
    // Released once per destroyed object, whether or not anything was opened.
    Dravik_FreeLibrary();
}

void DbgDev::SetLogSink(DbgDev_LogSinkT sink, void* context) {
    m_logSink = sink;
    m_logContext = context;
}

void DbgDev::LogTrace(const char* format, ...) {
    if (m_logSink == nullptr) {
        return;  // no sink: the diagnostics go nowhere and cost nothing
    }
    char text[512];
    va_list args;
    va_start(args, format);
    const int needed = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (needed < 0) {
        return;
    }
    if (static_cast<size_t>(needed) < sizeof text) {
        m_logSink(m_logContext, text);
        return;
    }
    // Rare long text (a long serial number): format it again into a buffer of the right size.
    char* big = new (std::nothrow) char[static_cast<size_t>(needed) + 1];
    if (big == nullptr) {
        m_logSink(m_logContext, text);  // cut, but still said
        return;
    }
    va_start(args, format);
    std::vsnprintf(big, static_cast<size_t>(needed) + 1, format, args);
    va_end(args);
    m_logSink(m_logContext, big);
    delete[] big;
}

const char* DbgDev::ResultText(int code) {
    switch (code) {
        case DBGDEV_OK:
            return "success";
        case DBGDEV_OPEN_FAILURE:
            return "probe open failure, or TCP connection id not set";
        case DBGDEV_EXCHANGE_FAILURE:
            return "driver library exchange failure";
        case DBGDEV_NO_TARGET:
            return "no target detected, or probe not open";
        case DBGDEV_NO_FREE_COMPARATOR:
            return "no free FPB comparator";
        case DBGDEV_NO_SOFT_BREAKPOINT:
            return "no software breakpoint at the address";
        case DBGDEV_UNKNOWN_JTAG_CHAIN:
            return "unknown JTAG chain";
        case DBGDEV_FIRMWARE_TOO_OLD:
            return "probe firmware too old";
        case DBGDEV_FIRMWARE_NOT_LATEST:
            return "probe firmware usable but not the latest";
        case DBGDEV_RESET_NOT_SEEN:
            return "reset not observed in time";
        case DBGDEV_HELD_IN_RESET:
            return "target held under reset";
        case DBGDEV_NOT_HALTED:
            return "core not halted after the halt or reset sequence";
        case DBGDEV_PROBE_ERROR:
            return "probe reported an error status";
        case DBGDEV_BAD_ARGUMENT:
            return "bad argument";
        case DBGDEV_NOT_SUPPORTED:
            return "not supported by this firmware or interface";
        case DBGDEV_DFU_EXIT_REFUSED:
            return "DFU exit refused";
        case DBGDEV_NO_DESCRIPTION:
            return "probe description not available";
        case DBGDEV_SERIAL_NOT_FOUND:
            return "serial number not found";
        case DBGDEV_NO_PROBE:
            return "no probe found, or probe not open";
        case DBGDEV_PLATFORM_NOT_SUPPORTED:
            return "probe not supported on this platform";
        case DBGDEV_NO_PERMISSION:
            return "lack of permission during enumeration";
        case DBGDEV_ENUMERATION_FAILURE:
            return "enumeration failure";
        case DBGDEV_AP_IN_USE:
            return "access port already in use";
        case DBGDEV_AP_NEW_OWNER:
            return "became the new owner of the trace access ports";
        case DBGDEV_AP_FAULT:
            return "access port fault";
        case DBGDEV_TCP_ID_ERROR:
            return "TCP id error";
        case DBGDEV_TCP_CLIENTS_TOO_OLD:
            return "several TCP clients on too old firmware";
        case DBGDEV_SETTINGS_CHANGED:
            return "probe settings changed by a frequency switch";
        case DBGDEV_FREQUENCY_DIFFERS:
            return "applied frequency differs from the request";
        case DBGDEV_STEP_NOT_SETTLED:
            return "single step not settled: the core kept executing";
        default:
            return "unknown result code";
    }
}
