// The virtual probe bench as a driver library: the 13 calls, scripted answers, faults, the wire
// log.
#include <gtest/gtest.h>

#include <cstring>

#include "DbgDevFixture.h"
#include "DravikUSBDriver.h"
#include "WireExpect.h"

namespace dravik::test {
namespace {

using sim::Call;
using sim::Fault;
using sim::ScriptedAnswer;

class BenchDriverTest : public BenchTest {
  protected:
    void* OpenFirst(unsigned char exclusive = 0) {
        EXPECT_EQ(1u, Dravik_Reenumerate(DRAVIK_USB_INTERFACE, 0));
        void* handle = nullptr;
        EXPECT_EQ(1u, Dravik_OpenDevice(DRAVIK_USB_INTERFACE, 0, exclusive, &handle));
        return handle;
    }
    static TDeviceRequest ModeQuery(void* buffer, unsigned length) {
        TDeviceRequest r;
        std::memset(&r, 0, sizeof r);
        r.cdbLength = 10;
        r.cdb[0] = 0xF5;
        r.direction = 1;
        r.buffer = buffer;
        r.bufferLength = length;
        r.senseLength = 14;
        return r;
    }
};

TEST_F(BenchDriverTest, DefaultBenchHasOneThirdGenerationProbe) {
    EXPECT_EQ(1u, Dravik_Reenumerate(DRAVIK_USB_INTERFACE, 0));
    EXPECT_EQ(1u, Dravik_GetNbDevices(DRAVIK_USB_INTERFACE));
    EXPECT_EQ(0u, Dravik_GetNbDevices(DRAVIK_TCP_INTERFACE)) << "not enumerated on TCP";
    TDeviceInfo2 info;
    std::memset(&info, 0xEE, sizeof info);
    ASSERT_EQ(1u, Dravik_GetDeviceInfo2(DRAVIK_USB_INTERFACE, 0, &info, sizeof info));
    EXPECT_STREQ("DRAVIK-BENCH-0001", info.serialNumber);
    EXPECT_EQ(3, bench().probe(0).config.generation);
    EXPECT_EQ(0, Dravik_GetDeviceInfo2(DRAVIK_USB_INTERFACE, 1, &info, sizeof info));
}

TEST_F(BenchDriverTest, NullBufferWithALengthIsATransportFailure) {
    void* handle = OpenFirst();
    TDeviceRequest r = ModeQuery(nullptr, 2);
    EXPECT_NE(1u, Dravik_SendCommand(handle, &r, 5000));
    EXPECT_NE(1u, Dravik_SendCommand(handle, nullptr, 5000));
    r = ModeQuery(nullptr, 0);
    r.direction = 7;
    EXPECT_NE(1u, Dravik_SendCommand(handle, &r, 5000));
    Dravik_CloseDevice(handle);
}

TEST_F(BenchDriverTest, AnswersNeverGoPastTheBufferLength) {
    void* handle = OpenFirst();
    uint8_t buffer[8];
    std::memset(buffer, 0xAA, sizeof buffer);
    bench().script(ScriptedAnswer::Bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    TDeviceRequest r = ModeQuery(buffer, 3);
    EXPECT_EQ(1u, Dravik_SendCommand(handle, &r, 5000));
    const uint8_t expected[8] = {1, 2, 3, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(0, std::memcmp(expected, buffer, 8));
    // The simulated firmware writes its two mode bytes, no more.
    std::memset(buffer, 0xAA, sizeof buffer);
    r = ModeQuery(buffer, 1);
    EXPECT_EQ(1u, Dravik_SendCommand(handle, &r, 5000));
    EXPECT_EQ(0xAA, buffer[1]);
    Dravik_CloseDevice(handle);
}

TEST_F(BenchDriverTest, ScriptedAnswersMatchByCommandPrefixAndTakePrecedence) {
    void* handle = OpenFirst();
    bench().script(ScriptedAnswer::Bytes({9, 9}).When({0xF2, 0x36}));
    bench().script(ScriptedAnswer::Transport(0x77));
    uint8_t buffer[2] = {};
    TDeviceRequest r = ModeQuery(buffer, 2);
    EXPECT_EQ(0x77u, Dravik_SendCommand(handle, &r, 5000)) << "the unmatched script is skipped";
    EXPECT_EQ(1u, Dravik_SendCommand(handle, &r, 5000));
    EXPECT_EQ(0, buffer[0]) << "simulated: the probe powers up in DFU mode";
    EXPECT_EQ(1u, bench().pendingScripts());
    r.cdb[0] = 0xF2;
    r.cdb[1] = 0x36;
    EXPECT_EQ(1u, Dravik_SendCommand(handle, &r, 5000));
    EXPECT_EQ(9, buffer[0]);
    EXPECT_EQ(0u, bench().pendingScripts());
    Dravik_CloseDevice(handle);
}

TEST_F(BenchDriverTest, FaultsHitTheNthExchange) {
    void* handle = OpenFirst();
    uint8_t buffer[2] = {};
    TDeviceRequest r = ModeQuery(buffer, 2);
    bench().injectFault(2, Fault{Fault::Kind::Transport, 0x55});
    bench().injectFault(3, Fault{Fault::Kind::Status, 0x0005});
    EXPECT_EQ(1u, Dravik_SendCommand(handle, &r, 5000));
    EXPECT_EQ(0x55u, Dravik_SendCommand(handle, &r, 5000));
    buffer[0] = 0xFF;
    EXPECT_EQ(1u, Dravik_SendCommand(handle, &r, 5000));
    EXPECT_EQ(0x05, buffer[0]);
    bench().injectFault(1, Fault{Fault::Kind::Unplug, 0});
    EXPECT_EQ(sim::drv::kDisconnected, Dravik_SendCommand(handle, &r, 5000));
    EXPECT_EQ(0, bench().probeCount());
    EXPECT_EQ(sim::drv::kDisconnected, Dravik_SendCommand(handle, &r, 5000)) << "and from then on";
    EXPECT_EQ(5u, bench().exchangeCount());
}

TEST_F(BenchDriverTest, ExclusiveOpeningIsRefusedWhileAnotherHandleHoldsTheProbe) {
    void* first = OpenFirst();
    void* second = nullptr;
    EXPECT_EQ(sim::drv::kBusy, Dravik_OpenDevice(DRAVIK_USB_INTERFACE, 0, 1, &second));
    EXPECT_EQ(1u, Dravik_OpenDevice(DRAVIK_USB_INTERFACE, 0, 0, &second)) << "shared is fine";
    Dravik_CloseDevice(first);
    Dravik_CloseDevice(second);
    void* exclusive = nullptr;
    ASSERT_EQ(1u, Dravik_OpenDevice(DRAVIK_USB_INTERFACE, 0, 1, &exclusive));
    EXPECT_EQ(sim::drv::kBusy, Dravik_OpenDevice(DRAVIK_USB_INTERFACE, 0, 0, &second));
    EXPECT_EQ(1u, Dravik_CloseDevice(exclusive));
    EXPECT_NE(1u, Dravik_CloseDevice(exclusive)) << "a handle closes once";
}

TEST_F(BenchDriverTest, OpenResultsAndTcpClientCounts) {
    bench().probe(0).config.openResult = 0x1054;
    Dravik_Reenumerate(DRAVIK_USB_INTERFACE, 0);
    void* handle = nullptr;
    EXPECT_EQ(0x1054u, Dravik_OpenDevice(DRAVIK_USB_INTERFACE, 0, 0, &handle));

    sim::ProbeConfig tcp;
    tcp.iface = DRAVIK_TCP_INTERFACE;
    tcp.deviceId = 0x99;
    tcp.extraTcpClients = 1;
    bench().addProbe(tcp);
    EXPECT_EQ(1u, Dravik_GetNumOfDeviceClientsTcp(0x99));
    ASSERT_EQ(1u, Dravik_OpenDeviceTcp(DRAVIK_TCP_INTERFACE, 0x99, 0));
    EXPECT_EQ(2u, Dravik_GetNumOfDeviceClientsTcp(0x99));
    uint8_t buffer[2] = {};
    TDeviceRequest r = ModeQuery(buffer, 2);
    EXPECT_EQ(1u, Dravik_SendCommandTcp(0x99, &r, 5000));
    EXPECT_EQ(1u, Dravik_CloseDeviceTcp(0x99, 0));
    EXPECT_NE(1u, Dravik_SendCommandTcp(0x99, &r, 5000));
    EXPECT_EQ(1u, Dravik_GetNumOfDeviceClientsTcp(0x99));
}

TEST_F(BenchDriverTest, WireLogRecordsEveryCallAndCanBeSwitchedOff) {
    void* handle = OpenFirst();
    uint8_t buffer[2] = {};
    TDeviceRequest r = ModeQuery(buffer, 2);
    Dravik_SendCommand(handle, &r, 1234);
    const auto& log = bench().log();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(Call::Reenumerate, log[0].call);
    EXPECT_EQ(Call::OpenDevice, log[1].call);
    EXPECT_EQ(Call::SendCommand, log[2].call);
    EXPECT_EQ(1234u, log[2].timeoutMs);
    EXPECT_EQ(14, log[2].senseLength);
    EXPECT_EQ("F5 00 00 00 00 00 00 00 00 00", log[2].cdbHex());
    EXPECT_EQ(std::vector<uint8_t>({0, 0}), log[2].received);
    bench().setLogEnabled(false);
    Dravik_SendCommand(handle, &r, 5000);
    EXPECT_EQ(3u, bench().log().size());
    Dravik_CloseDevice(handle);
}

TEST_F(BenchDriverTest, UnplugAndPowerCycle) {
    void* handle = OpenFirst();
    bench().probe(0).state.mode = sim::kModeDebug;
    bench().probe(0).powerCycle();
    EXPECT_EQ(sim::kModeDfu, bench().probe(0).state.mode);
    bench().removeProbe(0);
    uint8_t buffer[2] = {};
    TDeviceRequest r = ModeQuery(buffer, 2);
    EXPECT_EQ(sim::drv::kDisconnected, Dravik_SendCommand(handle, &r, 5000));
    EXPECT_EQ(1u, Dravik_Reenumerate(DRAVIK_USB_INTERFACE, 0));
    EXPECT_EQ(0u, Dravik_GetNbDevices(DRAVIK_USB_INTERFACE));
}

}  // namespace
}  // namespace dravik::test
