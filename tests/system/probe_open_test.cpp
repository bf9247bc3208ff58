// Probe opening and closing: the version queries, the firmware checks at opening, the model
// messages, opening by serial number, the driver's open results and exclusive opening.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DbgDevFixture.h"
#include "DravikProductIds.h"
#include "WireExpect.h"

namespace dravik::test {
namespace {

// The 16-bit fields of the packed version records are compared as copies (unsigned{...}): a
// reference to them could be misaligned.

using sim::Call;
using sim::ScriptedAnswer;
using Lines = std::vector<std::string>;

constexpr TEnumDravikInterface kUsb = DRAVIK_USB_INTERFACE;
constexpr TEnumDravikInterface kTcp = DRAVIK_TCP_INTERFACE;

std::vector<sim::WireEntry> CallsOf(Call call) {
    std::vector<sim::WireEntry> out;
    for (const auto& e : sim::bench().log()) {
        if (e.call == call) {
            out.push_back(e);
        }
    }
    return out;
}

const char* ModelMessage(uint8_t v) {
    return v == 1   ? "Dravik/V1 device detected"
           : v == 2 ? "Dravik/V2 device detected"
                    : "Dravik/V3 device detected";
}

class ProbeOpenTest : public BenchTest {
  protected:
    // A new device object on an empty log, the previous one (and what it said while closing) gone.
    DbgDev& NewDevice(TEnumDravikInterface iface = kUsb) {
        dev_.reset();
        DbgDev& dev = MakeDevice(iface);
        log_.clear();
        bench().clearLog();
        return dev;
    }
    // The bench holding only a probe of `config`, and a new device object on its interface.
    DbgDev& FreshDevice(const sim::ProbeConfig& config) {
        dev_.reset();
        UseProbe(config);
        return NewDevice(config.iface);
    }
    // Opens the first probe of the list: by index on USB, by the device id of its record on TCP.
    int OpenFirst(DbgDev& dev) {
        if (DbgDevTestPeer::interface(dev) != kTcp) {
            return dev.OpenDravik(nullptr, 0, 0u);
        }
        TDeviceInfo2 info{};
        EXPECT_EQ(0, dev.GetDeviceInfo2(0, &info, sizeof info));
        return dev.OpenDravik(nullptr, 0, info.deviceId);
    }
};

// --- firmware checks at opening ---

struct GateRow {
    uint8_t v, j;
    TEnumDravikInterface iface;
    int result;
    const char* gateMessage;  // logged after the model message; nullptr: none
};

const GateRow kGateRows[] = {
    {1, 10, kUsb, 14,
     "The detected Orvane firmware version (V1.J10) is too old for the PC software (V1.J11 min "
     "expected): use DravikUpgrade.exe"},
    {1, 10, kTcp, 14,
     "The detected Orvane firmware version (V1.J10) is too old for the PC software (V1.J11 min "
     "expected): use DravikUpgrade.exe"},
    {1, 0, kUsb, 14,
     "The detected Orvane firmware version (V1.J0) is too old for the PC software (V1.J11 min "
     "expected): use DravikUpgrade.exe"},
    {1, 11, kUsb, 15,
     "The detected Orvane firmware version (V1.J11) is compatible with PC software but is not the "
     "most recent one"},
    {1, 12, kUsb, 15,
     "The detected Orvane firmware version (V1.J12) is compatible with PC software but is not the "
     "most recent one"},
    {1, 13, kUsb, 0, nullptr},
    {2, 29, kUsb, 15,
     "The detected Orvane firmware version (V2.J29) is compatible with PC software but is not the "
     "most recent one"},
    {2, 30, kUsb, 0, nullptr},
    {3, 0, kUsb, 15,
     "The detected Orvane firmware version (V3.J0) is compatible with PC software but is not the "
     "most recent one"},
    {3, 1, kUsb, 0, nullptr},
    {3, 0, kTcp, 15,
     "The detected Orvane firmware version (V3.J0) is compatible with PC software but is not the "
     "most recent one"},
};

TEST_F(ProbeOpenTest, FirmwareChecksAtEachGenerationsBoundaries) {
    for (const GateRow& row : kGateRows) {
        SCOPED_TRACE(testing::Message() << "V" << int(row.v) << ".J" << int(row.j)
                                        << (row.iface == kTcp ? " TCP" : " USB"));
        DbgDev& dev = FreshDevice(TestProbe(row.v, row.j).on(row.iface));
        EXPECT_EQ(row.result, OpenFirst(dev));
        EXPECT_TRUE(DbgDevTestPeer::probeOpen(dev)) << "the checks leave the probe open";
        EXPECT_EQ(row.v, DbgDevTestPeer::version(dev).dravikVer);
        EXPECT_EQ(row.j, DbgDevTestPeer::version(dev).jtagVer);
        Lines expected{ModelMessage(row.v)};
        if (row.gateMessage != nullptr) {
            expected.push_back(row.gateMessage);
        }
        EXPECT_EQ(expected, log_.lines());
        // Third-generation probes answer the short query with zero versions: read again, extended.
        if (row.v > 2) {
            EXPECT_TRUE(SentExactly({In({0xF1, 0x80}, 6), In({0xFB, 0x80}, 12)}));
        } else {
            EXPECT_TRUE(SentExactly({In({0xF1, 0x80}, 6)}));
        }
        EXPECT_TRUE(RecordsWellFormed(bench().log()));
        dev_.reset();
    }
}

struct ExtendedRow {
    uint8_t v, j, monowire;
    bool shortZeroed;
    bool extended;
};

TEST_F(ProbeOpenTest, ExtendedQueryOnlyAboveV2WithBothShortVersionsZero) {
    const ExtendedRow rows[] = {
        {3, 7, 0, true, true},    {4, 9, 2, true, true},   {3, 0, 0, false, true},
        {3, 41, 0, false, false}, {3, 0, 5, false, false}, {2, 0, 0, false, false},
        {1, 0, 0, false, false},
    };
    for (const ExtendedRow& row : rows) {
        SCOPED_TRACE(testing::Message() << "V" << int(row.v) << " J" << int(row.j) << " M"
                                        << int(row.monowire) << " zeroed " << row.shortZeroed);
        sim::ProbeConfig config = TestProbe(row.v, row.j);
        config.monowireVersion = row.monowire;
        config.shortVersionZeroed = row.shortZeroed;
        DbgDev& dev = FreshDevice(config);
        (void)dev.OpenDravik(nullptr, 0, 0u);
        std::vector<ExpectedCommand> expected{In({0xF1, 0x80}, 6)};
        if (row.extended) {
            expected.push_back(In({0xFB, 0x80}, 12));
        }
        EXPECT_TRUE(SentExactly(expected));
        EXPECT_EQ(row.j, DbgDevTestPeer::version(dev).jtagVer);
        EXPECT_EQ(row.monowire, DbgDevTestPeer::version(dev).monowireVer);
        dev_.reset();
    }
}

TEST_F(ProbeOpenTest, VersionWord3A40IsGeneration3Debug41Monowire0) {
    DbgDev& dev = MakeDevice();
    bench().script(ScriptedAnswer::Bytes({0x3A, 0x40, 0xA0, 0xD7, 0x02, 0x03}).When({0xF1, 0x80}));
    EXPECT_EQ(0, dev.OpenDravik(nullptr, 0, 0u));
    const VERSION_EXT& v = DbgDevTestPeer::version(dev);
    EXPECT_EQ(3, v.dravikVer);
    EXPECT_EQ(41, v.jtagVer);
    EXPECT_EQ(0, v.monowireVer);
    EXPECT_EQ(0, v.auxVer1);
    EXPECT_EQ(0xD7A0u, unsigned{v.usbVendorId});
    EXPECT_EQ(0x0302u, unsigned{v.usbProductId});
    EXPECT_TRUE(SentExactly({In({0xF1, 0x80}, 6)})) << "a non-zero debug version is final";
    EXPECT_EQ(Lines{"Dravik/V3 device detected"}, log_.lines());
}

// --- the version queries on an open probe ---

TEST_F(ProbeOpenTest, ShortVersionDecodesTheBigEndianWordAndLittleEndianIds) {
    DbgDev& dev = OpenDevice();
    bench().script(ScriptedAnswer::Bytes({0x2A, 0x83, 0x34, 0x12, 0x78, 0x56}));
    VERSION v{};
    EXPECT_EQ(0, dev.Veltra_GetVersion(&v));
    EXPECT_EQ(2, v.dravikVer);
    EXPECT_EQ(42, v.jtagVer);
    EXPECT_EQ(3, v.monowireVer);
    EXPECT_EQ(0x1234u, unsigned{v.usbVendorId});
    EXPECT_EQ(0x5678u, unsigned{v.usbProductId});
    EXPECT_TRUE(SentExactly({In({0xF1, 0x80}, 6)}));
}

TEST_F(ProbeOpenTest, ShortVersionIntoTheExtendedRecordClearsTheFurtherVersions) {
    DbgDev& dev = OpenDevice();
    VERSION_EXT v;
    std::memset(&v, 0x55, sizeof v);
    bench().script(ScriptedAnswer::Bytes({0x2A, 0x83, 0x34, 0x12, 0x78, 0x56}));
    EXPECT_EQ(0, dev.Veltra_GetVersion(&v));
    EXPECT_EQ(2, v.dravikVer);
    EXPECT_EQ(3, v.monowireVer);
    EXPECT_EQ(42, v.jtagVer);
    EXPECT_EQ(0, v.auxVer1);
    EXPECT_EQ(0, v.auxVer2);
    EXPECT_EQ(0, v.auxVer3);
    EXPECT_EQ(0x55, v.unused[0]);
    EXPECT_EQ(0x55, v.unused[1]);
    EXPECT_EQ(0x1234u, unsigned{v.usbVendorId});
    EXPECT_EQ(0x5678u, unsigned{v.usbProductId});
}

TEST_F(ProbeOpenTest, ExtendedVersionCopiesSixBytesSkipsTwoAndReadsTheIds) {
    DbgDev& dev = OpenDevice();
    VERSION_EXT v;
    std::memset(&v, 0x55, sizeof v);
    bench().script(ScriptedAnswer::Bytes({3, 5, 41, 7, 8, 9, 0xEE, 0xEE, 0xA0, 0xD7, 0x01, 0x03}));
    EXPECT_EQ(0, dev.Veltra_GetVersionExt(&v));
    EXPECT_EQ(3, v.dravikVer);
    EXPECT_EQ(5, v.monowireVer);
    EXPECT_EQ(41, v.jtagVer);
    EXPECT_EQ(7, v.auxVer1);
    EXPECT_EQ(8, v.auxVer2);
    EXPECT_EQ(9, v.auxVer3);
    EXPECT_EQ(0x55, v.unused[0]);
    EXPECT_EQ(0x55, v.unused[1]);
    EXPECT_EQ(0xD7A0u, unsigned{v.usbVendorId});
    EXPECT_EQ(0x0301u, unsigned{v.usbProductId});
    EXPECT_TRUE(SentExactly({In({0xFB, 0x80}, 12)}));
}

TEST_F(ProbeOpenTest, FailedVersionQueriesLeaveTheRecordAlone) {
    DbgDev& dev = OpenDevice();
    VERSION v;
    VERSION_EXT ext;
    std::memset(&v, 0xAA, sizeof v);
    std::memset(&ext, 0xAA, sizeof ext);
    bench().script(ScriptedAnswer::Transport(0));
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.Veltra_GetVersion(&v));
    bench().script(ScriptedAnswer::Transport(0));
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.Veltra_GetVersion(&ext));
    bench().script(ScriptedAnswer::Transport(0));
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.Veltra_GetVersionExt(&ext));
    for (size_t i = 0; i < sizeof v; ++i) {
        EXPECT_EQ(0xAA, reinterpret_cast<const uint8_t*>(&v)[i]) << i;
    }
    for (size_t i = 0; i < sizeof ext; ++i) {
        EXPECT_EQ(0xAA, reinterpret_cast<const uint8_t*>(&ext)[i]) << i;
    }
}

TEST_F(ProbeOpenTest, BoardTypeOnlyFromV2J15) {
    sim::ProbeConfig config = TestProbe(2, 14);
    config.boardType = 0xB0A4D007;
    UseProbe(config);
    DbgDev& dev = OpenDevice();
    unsigned board = 0;
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.GetBoardType(&board));
    EXPECT_EQ(0xFFFFFFFFu, board);
    EXPECT_TRUE(SentExactly({}));

    config.jtagVersion = 15;
    dev_.reset();
    UseProbe(config);
    DbgDev& newer = OpenDevice();
    EXPECT_EQ(0, newer.GetBoardType(&board));
    EXPECT_EQ(0xB0A4D007u, board);
    EXPECT_TRUE(SentExactly({In({0xF8, 0x80}, 4)}));

    bench().clearLog();
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, newer.GetBoardType(nullptr));
    EXPECT_TRUE(SentExactly({})) << "nowhere to receive the answer: nothing asked";
}

// --- TCP clients on firmware without multi-client support ---

TEST_F(ProbeOpenTest, TcpV2J27WithOneClientIsOnlyAWarning) {
    sim::ProbeConfig config = TestProbe(2, 27).on(kTcp);
    config.deviceId = 0x4711;
    UseProbe(config);
    DbgDev& dev = MakeDevice(kTcp);
    EXPECT_EQ(DBGDEV_FIRMWARE_NOT_LATEST, OpenFirst(dev));
    EXPECT_TRUE(DbgDevTestPeer::probeOpen(dev));
    EXPECT_EQ(0x4711u, DbgDevTestPeer::tcpConnectionId(dev));
    EXPECT_EQ(Lines{"Dravik/V2 device detected"}, log_.lines());
    const auto counts = CallsOf(Call::GetNumOfDeviceClientsTcp);
    ASSERT_EQ(1u, counts.size());
    EXPECT_EQ(0x4711u, counts[0].deviceId);
}

TEST_F(ProbeOpenTest, TcpV2J27WithTwoClientsIsRefusedButStaysOpen) {
    sim::ProbeConfig config = TestProbe(2, 27).on(kTcp);
    config.extraTcpClients = 1;
    UseProbe(config);
    DbgDev& dev = MakeDevice(kTcp);
    EXPECT_EQ(DBGDEV_TCP_CLIENTS_TOO_OLD, OpenFirst(dev));
    EXPECT_TRUE(DbgDevTestPeer::probeOpen(dev));
    EXPECT_EQ(
        "2 TCP clients: The detected Orvane firmware version (V2.J27) is too old to use several "
        "clients on shareable Dravik TCP (V2.J28 min expected): use DravikUpgrade.exe",
        log_.last());
}

TEST_F(ProbeOpenTest, TcpClientCountThatCannotBeReadIsRefused) {
    UseProbe(TestProbe(2, 27).on(kTcp));
    DbgDev& dev = MakeDevice(kTcp);
    ASSERT_EQ(DBGDEV_FIRMWARE_NOT_LATEST, OpenFirst(dev));
    // The first form on an open probe re-runs the checks; with no connection id the count fails.
    const uint32_t id = DbgDevTestPeer::tcpConnectionId(dev);
    DbgDevTestPeer::tcpConnectionId(dev) = 0;
    log_.clear();
    bench().clearLog();
    EXPECT_EQ(DBGDEV_TCP_CLIENTS_TOO_OLD, dev.OpenDravik(nullptr, 0, 0u));
    EXPECT_EQ(
        Lines{"0 TCP clients: The detected Orvane firmware version (V2.J27) is too old to use "
              "several clients on shareable Dravik TCP (V2.J28 min expected): use "
              "DravikUpgrade.exe"},
        log_.lines());
    EXPECT_TRUE(bench().log().empty());
    DbgDevTestPeer::tcpConnectionId(dev) = id;
}

TEST_F(ProbeOpenTest, TcpFromV2J28DoesNotCountClients) {
    sim::ProbeConfig config = TestProbe(2, 28).on(kTcp);
    config.extraTcpClients = 3;
    UseProbe(config);
    DbgDev& dev = MakeDevice(kTcp);
    EXPECT_EQ(DBGDEV_FIRMWARE_NOT_LATEST, OpenFirst(dev));  // V2.J28 is still not the latest
    EXPECT_TRUE(CallsOf(Call::GetNumOfDeviceClientsTcp).empty());
}

TEST_F(ProbeOpenTest, TcpOpenNeedsADeviceId) {
    UseProbe(TestProbe(3, 7).on(kTcp));
    DbgDev& dev = MakeDevice(kTcp);
    DbgDevTestPeer::tcpConnectionId(dev) = 0x99;
    EXPECT_EQ(DBGDEV_OPEN_FAILURE, dev.OpenDravik(nullptr, 0, 0u));
    EXPECT_EQ(Lines{" GetDeviceInfo2 not called before OpenDeviceTcp"}, log_.lines());
    EXPECT_EQ(0u, DbgDevTestPeer::tcpConnectionId(dev));
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(dev));
    EXPECT_TRUE(CallsOf(Call::OpenDeviceTcp).empty());
}

// --- model messages and open results ---

TEST_F(ProbeOpenTest, ModelMessageFollowsTheProductId) {
    const struct {
        uint16_t productId;
        const char* message;
    } rows[] = {
        {DRAVIK_PRODUCT_ID_V1, "Dravik/V1 device detected"},
        {DRAVIK_PRODUCT_ID_V3, "Dravik/V3 device detected"},
        {DRAVIK_PRODUCT_ID_V3_MASS, "Dravik/V3 device detected"},
        {DRAVIK_PRODUCT_ID_V3_BRIDGE, "Dravik/V3 device detected"},
        {DRAVIK_PRODUCT_ID_V2, "Dravik/V2 device detected"},
        {0x0304, "Dravik/V2 device detected"},
        {0x0000, "Dravik/V2 device detected"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.productId);
        sim::ProbeConfig config = TestProbe(3, 7);
        config.productId = row.productId;  // the generation stays 3: only the message changes
        DbgDev& dev = FreshDevice(config);
        EXPECT_EQ(0, dev.OpenDravik(nullptr, 0, 0u));
        EXPECT_EQ(Lines{row.message}, log_.lines());
        EXPECT_EQ(row.productId, unsigned{DbgDevTestPeer::version(dev).usbProductId});
        dev_.reset();
    }
}

TEST_F(ProbeOpenTest, DriverOpenResultsMapTo27Or1) {
    const struct {
        TEnumDravikInterface iface;
        unsigned openResult;
        int result;
        const char* message;
    } rows[] = {
        {kUsb, 0x1054, 27, "Device not supported on current platform"},
        {kUsb, 0, 1, "Dravik device USB connection failure"},
        {kUsb, 0x1055, 1, "Dravik device USB connection failure"},
        {kTcp, 0x1054, 27, "Device not supported on current platform"},
        {kTcp, 0x2001, 1, "Dravik device USB connection failure"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << row.openResult << " on " << row.iface);
        sim::ProbeConfig config = TestProbe(3, 7).on(row.iface);
        config.openResult = row.openResult;
        DbgDev& dev = FreshDevice(config);
        EXPECT_EQ(row.result, OpenFirst(dev));
        EXPECT_EQ(row.message, log_.last());
        EXPECT_FALSE(DbgDevTestPeer::probeOpen(dev));
        EXPECT_EQ(0u, DbgDevTestPeer::tcpConnectionId(dev));
        EXPECT_EQ(0, DbgDevTestPeer::version(dev).dravikVer) << "no version read";
        EXPECT_TRUE(SentExactly({}));
        dev_.reset();
    }
}

TEST_F(ProbeOpenTest, BadIndexIsAnOpenFailure) {
    DbgDev& dev = MakeDevice();
    EXPECT_EQ(DBGDEV_OPEN_FAILURE, dev.OpenDravik(nullptr, 1, 0u));
    EXPECT_EQ("Bad Dravik instance id (1 > 0)", log_.last());
    EXPECT_EQ(DBGDEV_OPEN_FAILURE, dev.OpenDravik(nullptr, -1, 0u));
    EXPECT_EQ("Bad Dravik instance id (-1 > 0)", log_.last());
    EXPECT_TRUE(CallsOf(Call::OpenDevice).empty());
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(dev));
}

TEST_F(ProbeOpenTest, EnumerationFailureIsReturnedBeforeOpening) {
    bench().driver.countOverride = 0;
    DbgDev& dev = MakeDevice();
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.OpenDravik(nullptr, 0, 0u));
    EXPECT_EQ(Lines{"No Dravik device detected on the USB"}, log_.lines());
    EXPECT_TRUE(CallsOf(Call::OpenDevice).empty());
}

TEST_F(ProbeOpenTest, FirstFormOnAnOpenProbeOnlyRepeatsTheChecks) {
    UseProbe(TestProbe(2, 29));
    DbgDev& dev = OpenDevice();
    EXPECT_EQ(DBGDEV_FIRMWARE_NOT_LATEST, dev.OpenDravik(nullptr, 0, 0u));
    EXPECT_TRUE(bench().log().empty()) << "no enumeration, open or version query";
    EXPECT_EQ(Lines{"The detected Orvane firmware version (V2.J29) is compatible with PC software "
                    "but is not the most recent one"},
              log_.lines());
}

// --- exclusive opening ---

TEST_F(ProbeOpenTest, ExclusiveOpeningIsRefusedWhileAnotherHandleHoldsTheProbe) {
    DbgDev& shared = OpenDevice();
    ASSERT_TRUE(DbgDevTestPeer::probeOpen(shared));

    DbgDev other(kUsb);
    LogCapture otherLog;
    otherLog.attach(other);
    other.SetOpenModeExclusive(true);
    EXPECT_EQ(DBGDEV_OPEN_FAILURE, other.OpenDravik(nullptr, 0, 0u));
    EXPECT_EQ(Lines{"Dravik device USB connection failure"}, otherLog.lines());
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(other));
    auto opens = CallsOf(Call::OpenDevice);
    ASSERT_EQ(1u, opens.size());
    EXPECT_EQ(1u, opens[0].option) << "exclusive flag";

    // Once the shared holder lets go, the exclusive opening succeeds.
    EXPECT_EQ(0, shared.CloseDravik());
    EXPECT_EQ(0, other.OpenDravik(nullptr, 0, 0u));
    EXPECT_TRUE(bench().probe(0).state.heldExclusive);
    EXPECT_EQ(0, other.CloseDravik());
}

TEST_F(ProbeOpenTest, AnExclusiveHolderKeepsSharedOpeningsOut) {
    DbgDev& holder = MakeDevice();
    holder.SetOpenModeExclusive(true);
    EXPECT_EQ(0, holder.OpenDravik(nullptr, 0, 0u));
    auto opens = CallsOf(Call::OpenDevice);
    ASSERT_EQ(1u, opens.size());
    EXPECT_EQ(1u, opens[0].option);

    DbgDev other(kUsb);
    EXPECT_EQ(DBGDEV_OPEN_FAILURE, other.OpenDravik(nullptr, 0, 0u));
    opens = CallsOf(Call::OpenDevice);
    ASSERT_EQ(2u, opens.size());
    EXPECT_EQ(0u, opens[1].option) << "shared by default";
}

TEST_F(ProbeOpenTest, ExclusiveFlagReachesTheTcpOpening) {
    for (const bool exclusive : {true, false}) {
        SCOPED_TRACE(exclusive);
        DbgDev& dev = FreshDevice(TestProbe(3, 7).on(kTcp));
        dev.SetOpenModeExclusive(exclusive);
        EXPECT_EQ(0, OpenFirst(dev));
        const auto opens = CallsOf(Call::OpenDeviceTcp);
        ASSERT_EQ(1u, opens.size());
        EXPECT_EQ(exclusive ? 1u : 0u, opens[0].option);
    }
}

// --- closing ---

TEST_F(ProbeOpenTest, CloseOnAClosedProbeCallsNothing) {
    DbgDev& dev = MakeDevice();
    EXPECT_EQ(0, dev.CloseDravik());
    EXPECT_TRUE(bench().log().empty());
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(ProbeOpenTest, CloseKeepsHandleAndVersion) {
    DbgDev& dev = OpenDevice();
    void* handle = DbgDevTestPeer::usbHandle(dev);
    EXPECT_EQ(0, dev.CloseDravik());
    const auto closes = CallsOf(Call::CloseDevice);
    ASSERT_EQ(1u, closes.size());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(handle), closes[0].handle);
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(dev));
    EXPECT_EQ(handle, DbgDevTestPeer::usbHandle(dev));
    EXPECT_EQ(3, DbgDevTestPeer::version(dev).dravikVer);
    EXPECT_TRUE(DbgDevTestPeer::enumerated(dev));
    EXPECT_EQ(0u, bench().probe(0).state.openHandles);
    EXPECT_EQ(0, dev.CloseDravik());
    EXPECT_EQ(1u, CallsOf(Call::CloseDevice).size()) << "a second close calls nothing";
}

TEST_F(ProbeOpenTest, TcpCloseForgetsTheEnumeration) {
    sim::ProbeConfig config = TestProbe(3, 7).on(kTcp);
    config.deviceId = 0x515;
    UseProbe(config);
    DbgDev& dev = OpenDevice(0, kTcp);
    EXPECT_EQ(0, dev.CloseDravik());
    const auto closes = CallsOf(Call::CloseDeviceTcp);
    ASSERT_EQ(1u, closes.size());
    EXPECT_EQ(0x515u, closes[0].deviceId);
    EXPECT_EQ(0u, closes[0].option);
    EXPECT_FALSE(DbgDevTestPeer::enumerated(dev));
    EXPECT_EQ(0x515u, DbgDevTestPeer::tcpConnectionId(dev));
    EXPECT_EQ(0, dev.OpenDravik(nullptr, 0, 0x515u));
    EXPECT_EQ(1u, CallsOf(Call::ReenumerateTcp).size()) << "the next open enumerates again";
}

// An open probe without a handle (USB) or connection id (TCP) has nothing to close in the library:
// it is only marked closed, and a TCP enumeration stands.
TEST_F(ProbeOpenTest, CloseWithoutAHandleOrConnectionIdCallsNothing) {
    DbgDev& usb = OpenDevice();
    void* handle = DbgDevTestPeer::usbHandle(usb);
    DbgDevTestPeer::usbHandle(usb) = nullptr;
    EXPECT_EQ(0, usb.CloseDravik());
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(usb));
    EXPECT_TRUE(CallsOf(Call::CloseDevice).empty());
    EXPECT_EQ(1u, Dravik_CloseDevice(handle));  // the real connection, for the bench's sake

    UseProbe(TestProbe(3, 7).on(kTcp));
    DbgDev& tcp = OpenDevice(0, kTcp);
    const unsigned id = DbgDevTestPeer::tcpConnectionId(tcp);
    DbgDevTestPeer::tcpConnectionId(tcp) = 0;
    EXPECT_EQ(0, tcp.CloseDravik());
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(tcp));
    EXPECT_TRUE(CallsOf(Call::CloseDeviceTcp).empty());
    EXPECT_TRUE(DbgDevTestPeer::enumerated(tcp));
    EXPECT_EQ(1u, Dravik_CloseDeviceTcp(id, 0));
}

TEST_F(ProbeOpenTest, CloseFailureIsOnlyLogged) {
    DbgDev& dev = OpenDevice();
    void* handle = DbgDevTestPeer::usbHandle(dev);
    DbgDevTestPeer::usbHandle(dev) = reinterpret_cast<void*>(uintptr_t{0x1});
    EXPECT_EQ(0, dev.CloseDravik());
    EXPECT_EQ(Lines{"Error closing USB communication"}, log_.lines());
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(dev));
    EXPECT_EQ(1u, Dravik_CloseDevice(handle));  // the real connection, for the bench's sake
}

// --- a version failure closes again ---

TEST_F(ProbeOpenTest, VersionFailureClosesTheProbe) {
    DbgDev& dev = MakeDevice();
    bench().script(ScriptedAnswer::Transport(0).When({0xF1, 0x80}));
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.OpenDravik(nullptr, 0, 0u));
    EXPECT_EQ((Lines{"USB communication error (0) after target cmd F1 80 00 00 00 00 00 00 00 00",
                     "Dravik get version failure"}),
              log_.lines());
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(dev));
    EXPECT_EQ(1u, CallsOf(Call::CloseDevice).size());
    EXPECT_EQ(0u, bench().probe(0).state.openHandles);
    EXPECT_EQ(0, DbgDevTestPeer::version(dev).dravikVer);
}

TEST_F(ProbeOpenTest, ExtendedVersionFailureClosesTheProbe) {
    DbgDev& dev = MakeDevice();
    bench().script(ScriptedAnswer::Transport(0x1008).When({0xFB, 0x80}));
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.OpenDravik(nullptr, 0, 0u));
    EXPECT_EQ(
        (Lines{"USB communication error (4104) after target cmd FB 80 00 00 00 00 00 00 00 00",
               "Dravik get Extended version failure"}),
        log_.lines());
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(dev));
    EXPECT_EQ(1u, CallsOf(Call::CloseDevice).size());
}

TEST_F(ProbeOpenTest, TcpVersionFailureClosesTheTcpConnection) {
    UseProbe(TestProbe(2, 30).on(kTcp));
    DbgDev& dev = MakeDevice(kTcp);
    bench().script(ScriptedAnswer::Transport(0).When({0xF1, 0x80}));
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, OpenFirst(dev));
    EXPECT_EQ(1u, CallsOf(Call::CloseDeviceTcp).size());
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(dev));
    EXPECT_FALSE(DbgDevTestPeer::enumerated(dev));
}

// --- opening by serial number ---

class SerialOpenTest : public ProbeOpenTest {
  protected:
    void AddProbes(std::initializer_list<const char*> serials, TEnumDravikInterface iface = kUsb,
                   uint32_t firstDeviceId = 0) {
        bench().clear();
        bench().clock.setManual(true);
        uint32_t id = firstDeviceId;
        for (const char* serial : serials) {
            sim::ProbeConfig config = TestProbe(3, 7).on(iface);
            config.serial = serial;
            config.deviceId = id == 0 ? 0 : id++;
            bench().addProbe(config);
        }
    }
};

TEST_F(SerialOpenTest, NullSerialNumberIsRefusedBeforeEnumerating) {
    DbgDev& dev = MakeDevice();
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.OpenDravik(nullptr, static_cast<const char*>(nullptr), 0));
    EXPECT_EQ(Lines{"NULL pointer for serialNumber in OpenDravik"}, log_.lines());
    EXPECT_TRUE(bench().log().empty());
}

TEST_F(SerialOpenTest, OpensTheProbeWithThatSerialNumber) {
    AddProbes({"SN-A", "SN-B", "SN-C"});
    DbgDev& dev = MakeDevice();
    EXPECT_EQ(0, dev.OpenDravik(nullptr, "SN-B", 0));
    const auto infos = CallsOf(Call::GetDeviceInfo2);
    ASSERT_EQ(2u, infos.size()) << "the search stops at the match";
    EXPECT_EQ(0u, infos[0].index);
    EXPECT_EQ(1u, infos[1].index);
    EXPECT_EQ(41u, infos[1].size);
    const auto opens = CallsOf(Call::OpenDevice);
    ASSERT_EQ(1u, opens.size());
    EXPECT_EQ(1u, opens[0].index);
    EXPECT_EQ(1, opens[0].probe);
}

TEST_F(SerialOpenTest, LonelyProbeIsOpenedUnlessStrict) {
    DbgDev& dev = MakeDevice();
    EXPECT_EQ(0, dev.OpenDravik(nullptr, "NOPE", 0));
    EXPECT_EQ((Lines{"Dravik serial number (NOPE) not found; opening the (lonely) connected Dravik "
                     "(SN=DRAVIK-BENCH-0001)",
                     "Dravik/V3 device detected"}),
              log_.lines());
    EXPECT_TRUE(DbgDevTestPeer::probeOpen(dev));
    EXPECT_EQ(1u, CallsOf(Call::OpenDevice).size());

    DbgDev& strict = NewDevice();
    EXPECT_EQ(DBGDEV_SERIAL_NOT_FOUND, strict.OpenDravik(nullptr, "NOPE", 1));
    EXPECT_EQ(Lines{"Dravik serial number (NOPE) not found; can not open."}, log_.lines());
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(strict));
    EXPECT_TRUE(CallsOf(Call::OpenDevice).empty());
}

TEST_F(SerialOpenTest, NoFallbackAmongSeveralProbesAndTheComparisonIsExact) {
    AddProbes({"SN-A", "SN-B"});
    for (const char* wanted : {"NOPE", "sn-b", "SN-B ", "SN-"}) {
        SCOPED_TRACE(wanted);
        DbgDev& dev = NewDevice();
        EXPECT_EQ(DBGDEV_SERIAL_NOT_FOUND, dev.OpenDravik(nullptr, wanted, 0));
        EXPECT_EQ("Dravik serial number (" + std::string(wanted) + ") not found; can not open.",
                  log_.last());
        EXPECT_TRUE(CallsOf(Call::OpenDevice).empty());
    }
}

TEST_F(SerialOpenTest, AFullUnterminatedSerialFieldMatchesExactly) {
    const char* full = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";  // 32 characters: no terminator
    AddProbes({"SN-A", full});
    DbgDev& longer = MakeDevice();
    EXPECT_EQ(DBGDEV_SERIAL_NOT_FOUND,
              longer.OpenDravik(nullptr, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456", 0));
    DbgDev& dev = NewDevice();
    EXPECT_EQ(0, dev.OpenDravik(nullptr, full, 0));
    const auto opens = CallsOf(Call::OpenDevice);
    ASSERT_EQ(1u, opens.size());
    EXPECT_EQ(1u, opens[0].index);
}

TEST_F(SerialOpenTest, TcpUsesTheDeviceIdOfTheRecord) {
    AddProbes({"SN-A", "SN-B"}, kTcp, 0x51);
    DbgDev& dev = MakeDevice(kTcp);
    EXPECT_EQ(0, dev.OpenDravik(nullptr, "SN-B", 0));
    const auto opens = CallsOf(Call::OpenDeviceTcp);
    ASSERT_EQ(1u, opens.size());
    EXPECT_EQ(0x52u, opens[0].deviceId);
    EXPECT_EQ(0x52u, DbgDevTestPeer::tcpConnectionId(dev));
}

TEST_F(SerialOpenTest, TcpLonelyProbeKeepsTheDeviceIdFromTheSearch) {
    AddProbes({"SN-A"}, kTcp, 0x77);
    DbgDev& dev = MakeDevice(kTcp);
    EXPECT_EQ(0, dev.OpenDravik(nullptr, "NOPE", 0));
    const auto opens = CallsOf(Call::OpenDeviceTcp);
    ASSERT_EQ(1u, opens.size());
    EXPECT_EQ(0x77u, opens[0].deviceId);
}

TEST_F(SerialOpenTest, DescriptionFailureEndsTheSearch) {
    AddProbes({"SN-A", "SN-B"});
    bench().probe(0).config.infoResult = 0;
    DbgDev& dev = MakeDevice();
    EXPECT_EQ(DBGDEV_NO_DESCRIPTION, dev.OpenDravik(nullptr, "SN-B", 0));
    EXPECT_EQ(1u, CallsOf(Call::GetDeviceInfo2).size());
    EXPECT_TRUE(CallsOf(Call::OpenDevice).empty());
}

TEST_F(SerialOpenTest, SecondFormOnAnOpenProbeIsNotFound) {
    DbgDev& dev = OpenDevice();
    EXPECT_EQ(DBGDEV_SERIAL_NOT_FOUND, dev.OpenDravik(nullptr, "DRAVIK-BENCH-0001", 0));
    EXPECT_EQ(Lines{"Dravik serial number (DRAVIK-BENCH-0001) not found; can not open."},
              log_.lines());
    EXPECT_TRUE(bench().log().empty());
    EXPECT_TRUE(DbgDevTestPeer::probeOpen(dev));
}

}  // namespace
}  // namespace dravik::test
