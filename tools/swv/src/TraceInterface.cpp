#include "dravik/swv/TraceInterface.h"

namespace dravik::swv {

const char* entryPointName(EntryPoint entry) noexcept {
    switch (entry) {
        case EntryPoint::EnumerateDevices:
            return "DravikEnumerateDevices";
        case EntryPoint::SelectDevice:
            return "DravikSelectDevice";
        case EntryPoint::RunDevice:
            return "DravikRunDevice";
        case EntryPoint::BlinkDebugger:
            return "DravikBlinkDebugger";
        case EntryPoint::CloseDevice:
            return "DravikCloseDevice";
        case EntryPoint::SetupDevice:
            return "DravikSetupDevice";
        case EntryPoint::StopSwvRead:
            return "DravikStopSWVRead";
        case EntryPoint::ReadSwvData:
            return "DravikReadSWVData";
        case EntryPoint::ReadMemory:
            return "DravikReadMemory";
        case EntryPoint::LastError:
            return "DravikLastError";
        case EntryPoint::LastWarning:
            return "DravikLastWarning";
    }
    return "unknown";
}

}  // namespace dravik::swv
