// The 13 calls of the probe driver library, answered by the bench's simulated probes.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "CommandRegistry.h"
#include "DravikBench/Bench.h"
#include "DravikUSBDriver.h"

using namespace dravik::sim;

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

WireEntry Entry(Call call, TEnumDravikInterface iface) {
    WireEntry e;
    e.call = call;
    e.iface = static_cast<uint32_t>(iface);
    return e;
}

unsigned Reenumerate(Bench& b, TEnumDravikInterface iface, unsigned result) {
    auto& list = b.enumerated(iface);
    list.clear();
    for (int i = 0; i < b.probeCount(); ++i) {
        SimProbe& p = b.probe(i);
        if (p.config.iface == iface) {
            list.push_back(p.benchId());
        }
    }
    return result;
}

SimProbe* Enumerated(Bench& b, TEnumDravikInterface iface, unsigned index) {
    auto& list = b.enumerated(iface);
    return index < list.size() ? b.probeById(list[index]) : nullptr;
}

template <typename Record>
unsigned Describe(Bench& b, Call call, TEnumDravikInterface iface, unsigned char index,
                  Record* info, unsigned size) {
    Lock lock(b.mutex());
    b.ensureConfigured();
    WireEntry e = Entry(call, iface);
    e.index = index;
    e.size = size;
    SimProbe* p = Enumerated(b, iface, index);
    unsigned result;
    if (info == nullptr) {
        result = drv::kBadRecord;
    } else if (p == nullptr) {
        result = drv::kFailure;
    } else {
        e.probe = b.indexOf(p->benchId());
        result = p->config.infoResult;
        if (result == drv::kOk) {
            Record record;
            std::memset(&record, 0, sizeof record);
            if constexpr (sizeof(Record) == sizeof(TDeviceInfo2)) {
                record.deviceId = p->config.deviceId;
            }
            // A serial of 32 characters or more fills the field without a terminator, as a
            // careless driver would.
            std::memcpy(record.serialNumber, p->config.serial.data(),
                        std::min(p->config.serial.size(), sizeof record.serialNumber));
            record.vendorId = p->config.infoVendorId;
            record.productId = p->config.infoProductId;
            std::memcpy(info, &record, std::min<size_t>(size, sizeof record));
        }
    }
    e.result = result;
    b.record(std::move(e));
    return result;
}

unsigned Open(Bench& b, SimProbe* p, unsigned char exclusive, bool tcp, uintptr_t* handle) {
    if (p == nullptr) {
        return drv::kFailure;
    }
    if (p->config.openResult != drv::kOk) {
        return p->config.openResult;
    }
    if (p->state.heldExclusive || (exclusive != 0 && p->state.openHandles > 0)) {
        return drv::kBusy;
    }
    Bench::Connection c;
    c.benchId = p->benchId();
    c.tcp = tcp;
    c.exclusive = exclusive != 0;
    *handle = b.openConnection(c);
    ++p->state.openHandles;
    p->state.heldExclusive = exclusive != 0;
    return drv::kOk;
}

void Close(Bench& b, uintptr_t handle) {
    Bench::Connection* c = b.connection(handle);
    if (c == nullptr) {
        return;
    }
    if (SimProbe* p = b.probeById(c->benchId)) {
        if (p->state.openHandles > 0) {
            --p->state.openHandles;
        }
        if (c->exclusive) {
            p->state.heldExclusive = false;
        }
    }
    b.closeConnection(handle);
}

// The open TCP connection of this process to the probe with `deviceId`.
uintptr_t TcpHandle(Bench& b, unsigned deviceId) {
    for (int i = 0; i < b.probeCount(); ++i) {
        SimProbe& p = b.probe(i);
        if (p.config.iface == DRAVIK_TCP_INTERFACE && p.config.deviceId == deviceId) {
            return b.findConnection(p.benchId(), true);
        }
    }
    return 0;
}

void Deliver(const ScriptedAnswer& answer, TDeviceRequest* request) {
    if (!answer.data || request->buffer == nullptr || request->direction == DRAVIK_DIR_TO_PROBE) {
        return;
    }
    const size_t n = std::min<size_t>(answer.data->size(), request->bufferLength);
    if (n != 0) {  // an empty answer's data() may be null, which memcpy must not get
        std::memcpy(request->buffer, answer.data->data(), n);
    }
}

// The buffer an answer is written to, or null when the exchange has none.
uint8_t* AnswerBuffer(TDeviceRequest* request) {
    if (request->buffer == nullptr || request->direction == DRAVIK_DIR_TO_PROBE) {
        return nullptr;
    }
    return static_cast<uint8_t*>(request->buffer);
}

// The fault planned for this exchange. A short transfer only changes how the answer arrives, so it
// is handed back through `cutAt` and the exchange is answered as usual.
std::optional<Fault> TakeFault(Bench& b, std::optional<uint32_t>& cutAt) {
    std::optional<Fault> fault = b.takeFault();
    if (fault && fault->kind == Fault::Kind::ShortTransfer) {
        cutAt = fault->value;
        return std::nullopt;
    }
    return fault;
}

unsigned Send(Bench& b, Call call, uintptr_t handle, TDeviceRequest* request, unsigned timeoutMs,
              unsigned deviceId) {
    Lock lock(b.mutex());
    b.ensureConfigured();
    b.countExchange();
    WireEntry e;
    e.call = call;
    e.handle = handle;
    e.deviceId = deviceId;
    e.timeoutMs = timeoutMs;
    unsigned result = drv::kOk;
    bool answered = false;
    std::optional<uint32_t> cutAt;  // a short transfer: answer bytes that reach the host
    Bench::Connection* c = b.connection(handle);
    SimProbe* p = c != nullptr ? b.probeById(c->benchId) : nullptr;
    if (request != nullptr) {
        e.cdbLength = request->cdbLength;
        std::memcpy(e.cdb.data(), request->cdb, sizeof request->cdb);
        e.direction = request->direction;
        e.nullBuffer = request->buffer == nullptr;
        e.bufferLength = request->bufferLength;
        e.senseLength = request->senseLength;
        if (request->direction == DRAVIK_DIR_TO_PROBE && request->buffer != nullptr) {
            const auto* bytes = static_cast<const uint8_t*>(request->buffer);
            e.sent.assign(bytes, bytes + request->bufferLength);
        }
    }
    if (p != nullptr) {
        e.probe = b.indexOf(p->benchId());
    }
    if (request == nullptr || (request->buffer == nullptr && request->bufferLength != 0) ||
        (request->direction != DRAVIK_DIR_TO_PROBE && request->direction != DRAVIK_DIR_FROM_PROBE &&
         request->direction != DRAVIK_DIR_TRACE_STREAM)) {
        result = drv::kBadRecord;
    } else if (c == nullptr) {
        result = drv::kBadHandle;
    } else if (p == nullptr) {
        result = drv::kDisconnected;
    } else if (std::optional<Fault> fault = TakeFault(b, cutAt)) {
        answered = true;
        switch (fault->kind) {
            case Fault::Kind::Transport:
                result = fault->value;
                break;
            case Fault::Kind::Status:
                if (request->buffer != nullptr && request->direction != DRAVIK_DIR_TO_PROBE) {
                    auto* bytes = static_cast<uint8_t*>(request->buffer);
                    std::memset(bytes, 0, request->bufferLength);
                    if (request->bufferLength >= 1)
                        bytes[0] = uint8_t(fault->value);
                    if (request->bufferLength >= 2)
                        bytes[1] = uint8_t(fault->value >> 8);
                }
                break;
            case Fault::Kind::Unplug:
                b.removeProbe(b.indexOf(p->benchId()));
                p = nullptr;
                result = drv::kDisconnected;
                break;
            case Fault::Kind::ShortTransfer:
                break;  // taken apart by TakeFault
        }
    } else if (std::optional<ScriptedAnswer> answer = b.takeScript(request->cdb)) {
        result = answer->transportResult;
        Deliver(*answer, request);
        // Only a bare success leaves the answer to the simulation.
        answered = answer->data.has_value() || result != drv::kOk;
    }
    // The host's buffer as it was, for the bytes a short transfer does not reach.
    std::vector<uint8_t> untouched;
    if (cutAt && AnswerBuffer(request) != nullptr && *cutAt < request->bufferLength) {
        untouched.assign(AnswerBuffer(request), AnswerBuffer(request) + request->bufferLength);
    }
    if (!answered && result == drv::kOk && p != nullptr) {
        const uint64_t now = b.clock.beginExchange();
        p->advanceTo(now);
        CommandContext ctx{
            b, *p, *request, static_cast<uint8_t*>(request->buffer), request->bufferLength, now};
        result = Firmware().dispatch(ctx);
        b.clock.endExchange();
    }
    if (!untouched.empty()) {
        std::memcpy(AnswerBuffer(request) + *cutAt, untouched.data() + *cutAt,
                    untouched.size() - *cutAt);
    }
    if (request != nullptr && request->buffer != nullptr &&
        request->direction != DRAVIK_DIR_TO_PROBE && b.logEnabled()) {
        const auto* bytes = static_cast<const uint8_t*>(request->buffer);
        e.received.assign(bytes, bytes + request->bufferLength);
    }
    e.result = result;
    b.record(std::move(e));
    return result;
}

}  // namespace

extern "C" {

DRAVIK_DRIVER_API unsigned int Dravik_Reenumerate(TEnumDravikInterface iface,
                                                  unsigned char option) {
    Bench& b = bench();
    Lock lock(b.mutex());
    b.ensureConfigured();
    WireEntry e = Entry(Call::Reenumerate, iface);
    e.option = option;
    e.result = Reenumerate(b, iface, b.driver.reenumerateResult);
    b.record(e);
    return e.result;
}

DRAVIK_DRIVER_API unsigned int Dravik_ReenumerateTcp(TEnumDravikInterface iface,
                                                     unsigned char option,
                                                     const char* serverAddress,
                                                     const char* serverArgs) {
    Bench& b = bench();
    Lock lock(b.mutex());
    b.ensureConfigured();
    WireEntry e = Entry(Call::ReenumerateTcp, iface);
    e.option = option;
    e.serverAddress = serverAddress != nullptr ? serverAddress : "";
    e.serverArgs = serverArgs != nullptr ? serverArgs : "";
    e.result = Reenumerate(b, iface, b.driver.reenumerateTcpResult);
    b.record(e);
    return e.result;
}

DRAVIK_DRIVER_API unsigned int Dravik_GetNbDevices(TEnumDravikInterface iface) {
    Bench& b = bench();
    Lock lock(b.mutex());
    b.ensureConfigured();
    WireEntry e = Entry(Call::GetNbDevices, iface);
    e.result = b.driver.countOverride >= 0 ? unsigned(b.driver.countOverride)
                                           : unsigned(b.enumerated(iface).size());
    b.record(e);
    return e.result;
}

DRAVIK_DRIVER_API unsigned int Dravik_GetDeviceInfo2(TEnumDravikInterface iface,
                                                     unsigned char index, TDeviceInfo2* info,
                                                     unsigned int size) {
    return Describe(bench(), Call::GetDeviceInfo2, iface, index, info, size);
}

DRAVIK_DRIVER_API unsigned int Dravik_GetDeviceInfo(TEnumDravikInterface iface, unsigned char index,
                                                    TDeviceInfo* info, unsigned int size) {
    return Describe(bench(), Call::GetDeviceInfo, iface, index, info, size);
}

DRAVIK_DRIVER_API unsigned int Dravik_OpenDevice(TEnumDravikInterface iface, unsigned char index,
                                                 unsigned char exclusive, void** handle) {
    Bench& b = bench();
    Lock lock(b.mutex());
    b.ensureConfigured();
    WireEntry e = Entry(Call::OpenDevice, iface);
    e.index = index;
    e.option = exclusive;
    SimProbe* p = Enumerated(b, iface, index);
    if (p != nullptr) {
        e.probe = b.indexOf(p->benchId());
    }
    uintptr_t h = 0;
    e.result = handle == nullptr ? drv::kBadRecord : Open(b, p, exclusive, false, &h);
    if (e.result == drv::kOk) {
        *handle = reinterpret_cast<void*>(h);
        e.handle = h;
    }
    b.record(e);
    return e.result;
}

DRAVIK_DRIVER_API unsigned int Dravik_OpenDeviceTcp(TEnumDravikInterface iface,
                                                    unsigned int deviceId,
                                                    unsigned char exclusive) {
    Bench& b = bench();
    Lock lock(b.mutex());
    b.ensureConfigured();
    WireEntry e = Entry(Call::OpenDeviceTcp, iface);
    e.deviceId = deviceId;
    e.option = exclusive;
    SimProbe* p = nullptr;
    for (int i = 0; i < b.probeCount(); ++i) {
        SimProbe& candidate = b.probe(i);
        if (candidate.config.iface == DRAVIK_TCP_INTERFACE &&
            candidate.config.deviceId == deviceId) {
            p = &candidate;
            e.probe = i;
        }
    }
    uintptr_t h = 0;
    e.result = Open(b, p, exclusive, true, &h);
    e.handle = h;
    b.record(e);
    return e.result;
}

DRAVIK_DRIVER_API unsigned int Dravik_SendCommand(void* handle, TDeviceRequest* request,
                                                  unsigned int timeoutMs) {
    return Send(bench(), Call::SendCommand, reinterpret_cast<uintptr_t>(handle), request, timeoutMs,
                0);
}

DRAVIK_DRIVER_API unsigned int Dravik_SendCommandTcp(unsigned int deviceId, TDeviceRequest* request,
                                                     unsigned int timeoutMs) {
    Bench& b = bench();
    Lock lock(b.mutex());
    return Send(b, Call::SendCommandTcp, TcpHandle(b, deviceId), request, timeoutMs, deviceId);
}

DRAVIK_DRIVER_API unsigned int Dravik_GetNumOfDeviceClientsTcp(unsigned int deviceId) {
    Bench& b = bench();
    Lock lock(b.mutex());
    b.ensureConfigured();
    WireEntry e = Entry(Call::GetNumOfDeviceClientsTcp, DRAVIK_TCP_INTERFACE);
    e.deviceId = deviceId;
    unsigned clients = 0;
    for (int i = 0; i < b.probeCount(); ++i) {
        SimProbe& p = b.probe(i);
        if (p.config.iface == DRAVIK_TCP_INTERFACE && p.config.deviceId == deviceId) {
            clients = p.state.openHandles + p.config.extraTcpClients;
            e.probe = i;
        }
    }
    e.result = clients;
    b.record(e);
    return clients;
}

DRAVIK_DRIVER_API unsigned int Dravik_CloseDevice(void* handle) {
    Bench& b = bench();
    Lock lock(b.mutex());
    WireEntry e;
    e.call = Call::CloseDevice;
    e.handle = reinterpret_cast<uintptr_t>(handle);
    Bench::Connection* c = b.connection(e.handle);
    e.result = c == nullptr || c->tcp ? drv::kBadHandle : drv::kOk;
    if (e.result == drv::kOk) {
        e.probe = b.indexOf(c->benchId);
        Close(b, e.handle);
    }
    b.record(e);
    return e.result;
}

DRAVIK_DRIVER_API unsigned int Dravik_CloseDeviceTcp(unsigned int deviceId, unsigned char option) {
    Bench& b = bench();
    Lock lock(b.mutex());
    WireEntry e = Entry(Call::CloseDeviceTcp, DRAVIK_TCP_INTERFACE);
    e.deviceId = deviceId;
    e.option = option;
    const uintptr_t h = TcpHandle(b, deviceId);
    e.result = h == 0 ? drv::kBadHandle : drv::kOk;
    if (h != 0) {
        e.probe = b.indexOf(b.connection(h)->benchId);
        Close(b, h);
    }
    b.record(e);
    return e.result;
}

DRAVIK_DRIVER_API void Dravik_FreeLibrary(void) {
    Bench& b = bench();
    Lock lock(b.mutex());
    b.countFreeLibrary();
    b.record(Entry(Call::FreeLibrary, DRAVIK_USB_INTERFACE));
}

}  // extern "C"
