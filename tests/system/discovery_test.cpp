// Probe discovery: enumeration states, description records, the TCP server parameters and the
// client count, construction and destruction of the device object.
#include <gtest/gtest.h>

#include <cstring>

#include "DbgDevFixture.h"
#include "WireExpect.h"

namespace dravik::test {
namespace {

using sim::Call;

class DiscoveryTest : public BenchTest {
  protected:
    unsigned Count(Call call) const {
        unsigned n = 0;
        for (const auto& e : sim::bench().log()) {
            n += e.call == call ? 1 : 0;
        }
        return n;
    }
};

TEST_F(DiscoveryTest, ConstructionSetsTheDocumentedInitialValues) {
    DbgDev& dev = MakeDevice(DRAVIK_TCP_INTERFACE);
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(dev));
    EXPECT_FALSE(DbgDevTestPeer::targetOpen(dev));
    EXPECT_EQ(nullptr, DbgDevTestPeer::usbHandle(dev));
    EXPECT_EQ(0u, DbgDevTestPeer::tcpConnectionId(dev));
    EXPECT_EQ(0xFF, DbgDevTestPeer::probeMode(dev));
    EXPECT_EQ(0, DbgDevTestPeer::probeSubMode(dev));
    EXPECT_EQ(0u, DbgDevTestPeer::deviceCount(dev));
    EXPECT_FALSE(DbgDevTestPeer::openExclusive(dev));
    EXPECT_STREQ("", DbgDevTestPeer::driverPath(dev));
    EXPECT_FALSE(DbgDevTestPeer::enumInitDone(dev));
    EXPECT_FALSE(DbgDevTestPeer::enumerated(dev));
    EXPECT_EQ(DRAVIK_TCP_INTERFACE, DbgDevTestPeer::interface(dev));
    EXPECT_STREQ("", DbgDevTestPeer::tcpServerAddress(dev));
    EXPECT_STREQ("-a", DbgDevTestPeer::tcpServerCmdArgs(dev));
    EXPECT_EQ(DbgDev_SwClk1800KHz, DbgDevTestPeer::swdClock(dev));
    EXPECT_EQ(DbgDev_JtagClk1125KHz, DbgDevTestPeer::jtagClock(dev));
    EXPECT_EQ(1800u, DbgDevTestPeer::swdFreqKHz(dev));
    EXPECT_EQ(1125u, DbgDevTestPeer::jtagFreqKHz(dev));
    EXPECT_TRUE(DbgDevTestPeer::softBreakpoints(dev).empty());
    EXPECT_EQ(0, DbgDevTestPeer::flashPatchUsed(dev));
    for (const HW_BKPT& slot : DbgDevTestPeer::flashPatch(dev)) {
        EXPECT_EQ(0, slot.state);
    }
    EXPECT_EQ(10, DbgDevTestPeer::fpbCodeComparators(dev));
    EXPECT_FALSE(DbgDevTestPeer::coreIdentified(dev));
    EXPECT_FALSE(DbgDevTestPeer::fpbRev2(dev));
    const VERSION_EXT& v = DbgDevTestPeer::version(dev);
    EXPECT_EQ(0, v.dravikVer);
    EXPECT_EQ(0, v.jtagVer);
    EXPECT_TRUE(bench().log().empty()) << "creation touches no library call";
}

TEST_F(DiscoveryTest, DestructionReleasesTheLibraryOnceOpenOrNot) {
    MakeDevice();
    dev_.reset();
    EXPECT_EQ(1u, bench().freeLibraryCalls());
    ASSERT_EQ(1u, bench().log().size());
    EXPECT_EQ(Call::FreeLibrary, bench().log()[0].call);

    OpenDevice();
    dev_.reset();
    EXPECT_EQ(2u, bench().freeLibraryCalls());
    // The probe is closed before the library is released.
    ASSERT_GE(bench().log().size(), 2u);
    EXPECT_EQ(Call::CloseDevice, bench().log()[bench().log().size() - 2].call);
    EXPECT_EQ(Call::FreeLibrary, bench().log().back().call);
}

TEST_F(DiscoveryTest, UnforcedCallsReuseTheStandingEnumeration) {
    DbgDev& dev = MakeDevice();
    TDeviceInfo2 info{};
    EXPECT_EQ(0, dev.GetDeviceInfo2(0, &info, sizeof info));
    EXPECT_EQ(0, dev.GetDeviceInfo2(0, &info, sizeof info));
    EXPECT_EQ(1u, Count(Call::Reenumerate));
    EXPECT_STREQ("DRAVIK-BENCH-0001", info.serialNumber);
    int count = -1;
    EXPECT_EQ(0, dev.EnumerateDevInterface(nullptr, &count, 0));
    EXPECT_EQ(0, dev.EnumerateDevInterface(nullptr, &count, 0));
    EXPECT_EQ(3u, Count(Call::Reenumerate)) << "a forced enumeration always rebuilds the list";
    EXPECT_EQ(1, count);
}

TEST_F(DiscoveryTest, ForcedEnumerationCountingNothingLeavesTheFormerSuccessStanding) {
    DbgDev& dev = MakeDevice();
    int count = -1;
    ASSERT_EQ(0, dev.EnumerateDevInterface(nullptr, &count, 0));
    bench().removeProbe(0);
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.EnumerateDevInterface(nullptr, &count, 0));
    EXPECT_EQ(0, count);
    EXPECT_EQ("No Dravik device detected on the USB", log_.last());
    EXPECT_TRUE(DbgDevTestPeer::enumerated(dev));
    bench().clearLog();
    TDeviceInfo2 info{};
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetDeviceInfo2(0, &info, sizeof info));
    EXPECT_EQ("Bad Dravik instance id (0 > -1)", log_.last());
    EXPECT_EQ(0u, Count(Call::Reenumerate)) << "no new enumeration";
}

TEST_F(DiscoveryTest, EnumerationResults) {
    struct Row {
        unsigned library;
        int result;
        const char* message;
        const char* tcpMessage;
        bool enumerated;
    };
    const Row rows[] = {
        {1, 0, nullptr, nullptr, true},
        {0x1055, DBGDEV_NO_PERMISSION, "Lack of permission during enumeration", nullptr, false},
        {0x2001, DBGDEV_ENUMERATION_FAILURE, "Error during enumeration",
         "Error (0x002001) during Dravik enumeration through TCP", false},
        {0x2002, DBGDEV_ENUMERATION_FAILURE, "Error during enumeration",
         "Error (0x002002) during Dravik enumeration through TCP", false},
        {7, DBGDEV_ENUMERATION_FAILURE, "Error during enumeration", nullptr, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.library);
        bench().clear();
        bench().addProbe(sim::ProbeConfig{});
        sim::ProbeConfig second;
        second.serial = "SECOND";
        bench().addProbe(second);
        bench().driver.reenumerateResult = row.library;
        DbgDev& dev = MakeDevice();
        int count = -1;
        EXPECT_EQ(row.result, dev.EnumerateDevInterface(nullptr, &count, 0));
        EXPECT_EQ(2, count) << "the count is reported even with a failed re-enumeration";
        EXPECT_EQ(row.enumerated, DbgDevTestPeer::enumerated(dev));
        if (row.tcpMessage != nullptr) {
            ASSERT_EQ(2u, log_.lines().size());
            EXPECT_EQ(row.tcpMessage, log_.lines()[0]);
        }
        if (row.message != nullptr) {
            EXPECT_EQ(row.message, log_.last());
        } else {
            EXPECT_TRUE(log_.lines().empty());
        }
    }
}

// The calls that enumerate when no list stands hand its failure back unchanged.
TEST_F(DiscoveryTest, EnumerationFailuresPassThroughTheCallsThatEnumerate) {
    const struct {
        bool probe;
        unsigned library;
        int result;
    } rows[] = {
        {false, 1, DBGDEV_NO_PROBE},
        {true, 0x1055, DBGDEV_NO_PERMISSION},
        {true, 7, DBGDEV_ENUMERATION_FAILURE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.result);
        bench().clear();
        if (row.probe) {
            bench().addProbe(sim::ProbeConfig{});
        }
        bench().driver.reenumerateResult = row.library;
        DbgDev& dev = MakeDevice();
        TDeviceInfo2 info{};
        auto big = std::make_unique<TDeviceInfo>();
        EXPECT_EQ(row.result, dev.GetDeviceInfo2(0, &info, sizeof info));
        EXPECT_EQ(row.result, dev.GetDeviceInfo(0, big.get(), sizeof(TDeviceInfo)));
        EXPECT_EQ(row.result, dev.OpenDravik(nullptr, "DRAVIK-BENCH-0001", 0));
        EXPECT_EQ(row.result, dev.OpenDravik(nullptr, "DRAVIK-BENCH-0001", 1));
        EXPECT_EQ(4u, Count(Call::Reenumerate)) << "each call tries afresh";
        EXPECT_EQ(
            0u, Count(Call::GetDeviceInfo2) + Count(Call::GetDeviceInfo) + Count(Call::OpenDevice));
    }
}

// Only force 1 forces; the option goes to the library as a byte on either interface.
TEST_F(DiscoveryTest, ForceAndOptionOfTheEnumeration) {
    DbgDev& dev = MakeDevice();
    int count = 0;
    ASSERT_EQ(0, dev.EnumerateDevInterfaceIfRequired(nullptr, &count, 0, 0));
    for (const int force : {0, 2, -1, 256}) {
        EXPECT_EQ(0, dev.EnumerateDevInterfaceIfRequired(nullptr, &count, force, 0)) << force;
        EXPECT_EQ(1, count);
    }
    EXPECT_EQ(1u, Count(Call::Reenumerate));
    EXPECT_EQ(0, dev.EnumerateDevInterfaceIfRequired(nullptr, &count, 1, 0x1A5));
    EXPECT_EQ(2u, Count(Call::Reenumerate));
    EXPECT_EQ(0xA5u, bench().log()[bench().log().size() - 2].option);

    UseProbe(TestProbe().on(DRAVIK_TCP_INTERFACE));
    DbgDev& tcp = MakeDevice(DRAVIK_TCP_INTERFACE);
    bench().clearLog();
    EXPECT_EQ(0, tcp.EnumerateDevInterface(nullptr, &count, 0x1A5));
    ASSERT_EQ(Call::ReenumerateTcp, bench().log().front().call);
    EXPECT_EQ(0xA5u, bench().log().front().option);
}

TEST_F(DiscoveryTest, TcpEnumerationHandsTheServerParameters) {
    sim::ProbeConfig config;
    config.iface = DRAVIK_TCP_INTERFACE;
    UseProbe(config);
    DbgDev& dev = MakeDevice(DRAVIK_TCP_INTERFACE);
    DbgDev_TcpServerParamT param{"probe-host", "7184", "-x"};
    ASSERT_EQ(0, dev.SetTcpServerParam(3, &param));
    int count = 0;
    EXPECT_EQ(0, dev.EnumerateDevInterface(nullptr, &count, 0));
    EXPECT_EQ(1, count);
    const auto& e = bench().log().front();
    EXPECT_EQ(Call::ReenumerateTcp, e.call);
    EXPECT_EQ("@probe-host:7184", e.serverAddress);
    EXPECT_EQ("-x", e.serverArgs);
    EXPECT_EQ(2u, e.iface);
    EXPECT_EQ(0u, e.option);
}

TEST_F(DiscoveryTest, DriverPathIsKeptOnlyAtTheFirstEnumeration) {
    DbgDev& dev = MakeDevice();
    int count = 0;
    dev.EnumerateDevInterface("/opt/first", &count, 0);
    dev.EnumerateDevInterface("/opt/second", &count, 0);
    EXPECT_STREQ("/opt/first", DbgDevTestPeer::driverPath(dev));

    DbgDev& other = MakeDevice();
    other.EnumerateDevInterface(nullptr, &count, 0);
    other.EnumerateDevInterface("/opt/later", &count, 0);
    EXPECT_STREQ("", DbgDevTestPeer::driverPath(other))
        << "a first null path leaves it empty for good";
}

TEST_F(DiscoveryTest, LongDriverPathIsCutAndTerminated) {
    std::string path(40000, 'p');
    DbgDev& dev = MakeDevice();
    int count = 0;
    dev.EnumerateDevInterface(path.c_str(), &count, 0);
    const char* kept = DbgDevTestPeer::driverPath(dev);
    EXPECT_EQ(DbgDev::kDriverPathSize - 1, strnlen(kept, DbgDev::kDriverPathSize));
}

TEST_F(DiscoveryTest, DescriptionRecordChecks) {
    DbgDev& dev = MakeDevice();
    TDeviceInfo2 info{};
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetDeviceInfo2(-1, &info, sizeof info));
    EXPECT_EQ("Bad Dravik instance id (-1 > 0)", log_.last());
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetDeviceInfo2(1, &info, sizeof info));
    EXPECT_EQ("Bad Dravik instance id (1 > 0)", log_.last());
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetDeviceInfo2(0, nullptr, sizeof info));
    EXPECT_EQ("Bad parameter in GetDeviceInfo2 (NULL pointer)", log_.last());
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetDeviceInfo(0, nullptr, sizeof(TDeviceInfo)));
    EXPECT_EQ("Bad parameter in GetDeviceInfo (NULL pointer)", log_.last());
    auto record = std::make_unique<TDeviceInfo>();
    for (const int index : {-1, 1}) {
        EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetDeviceInfo(index, record.get(), sizeof(TDeviceInfo)));
        EXPECT_EQ("Bad Dravik instance id (" + std::to_string(index) + " > 0)", log_.last());
    }
    EXPECT_EQ(0u, Count(Call::GetDeviceInfo2) + Count(Call::GetDeviceInfo));

    bench().probe(0).config.infoResult = 0;
    EXPECT_EQ(DBGDEV_NO_DESCRIPTION, dev.GetDeviceInfo2(0, &info, sizeof info));
    auto big = std::make_unique<TDeviceInfo>();
    EXPECT_EQ(DBGDEV_NO_DESCRIPTION, dev.GetDeviceInfo(0, big.get(), sizeof(TDeviceInfo)));
    bench().probe(0).config.infoResult = 1;
    EXPECT_EQ(0, dev.GetDeviceInfo(0, big.get(), sizeof(TDeviceInfo)));
    EXPECT_STREQ("DRAVIK-BENCH-0001", big->serialNumber);
    const auto& e = bench().log().back();
    EXPECT_EQ(Call::GetDeviceInfo, e.call);
    EXPECT_EQ(32805u, e.size);
}

TEST_F(DiscoveryTest, GetDeviceInfoOnTcpIsRefusedBeforeAnyEnumeration) {
    DbgDev& dev = MakeDevice(DRAVIK_TCP_INTERFACE);
    auto big = std::make_unique<TDeviceInfo>();
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.GetDeviceInfo(0, big.get(), sizeof(TDeviceInfo)));
    EXPECT_EQ("GetDeviceInfo2 must be used instead of GetDeviceInfo", log_.last());
    EXPECT_TRUE(bench().log().empty());
}

TEST_F(DiscoveryTest, TcpServerParameterTexts) {
    struct Row {
        unsigned char count;
        const char* host;
        const char* port;
        const char* args;
        int result;
        const char* address;
        const char* storedArgs;
    };
    const std::string longHost(60, 'h');
    const Row rows[] = {
        {3, nullptr, nullptr, nullptr, 0, "", "-a"},
        {3, "h", "p", "-b", 0, "@h:p", "-b"},
        {3, "", "7184", "", 0, ":7184", ""},
        {3, "host", "", nullptr, 0, "@host", "-a"},
        {4, longHost.c_str(), "1", nullptr, 0, "@hhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhh",
         "-a"},
        {2, "h", "p", "x", DBGDEV_BAD_ARGUMENT, "untouched", "untouched"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.address);
        DbgDev& dev = MakeDevice(DRAVIK_TCP_INTERFACE);
        std::strcpy(DbgDevTestPeer::tcpServerAddress(dev), "untouched");
        std::strcpy(DbgDevTestPeer::tcpServerCmdArgs(dev), "untouched");
        DbgDev_TcpServerParamT param{row.host, row.port, row.args};
        EXPECT_EQ(row.result, dev.SetTcpServerParam(row.count, &param));
        EXPECT_STREQ(row.address, DbgDevTestPeer::tcpServerAddress(dev));
        EXPECT_STREQ(row.storedArgs, DbgDevTestPeer::tcpServerCmdArgs(dev));
    }
    DbgDev& dev = MakeDevice();
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.SetTcpServerParam(3, nullptr));
}

TEST_F(DiscoveryTest, TcpClientCount) {
    sim::ProbeConfig config;
    config.iface = DRAVIK_TCP_INTERFACE;
    config.deviceId = 0x77;
    config.extraTcpClients = 2;
    UseProbe(config);
    unsigned clients = 99;
    DbgDev& usb = MakeDevice();
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, usb.GetNumOfDeviceClientsTcp(&clients, 0x77));
    EXPECT_EQ(0u, clients);
    DbgDev& tcp = MakeDevice(DRAVIK_TCP_INTERFACE);
    clients = 99;
    EXPECT_EQ(DBGDEV_NO_PROBE, tcp.GetNumOfDeviceClientsTcp(&clients, 0));
    EXPECT_EQ(0u, clients);
    EXPECT_EQ(0, tcp.GetNumOfDeviceClientsTcp(&clients, 0x77));
    EXPECT_EQ(2u, clients);
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, tcp.GetNumOfDeviceClientsTcp(nullptr, 0x77));
}

TEST_F(DiscoveryTest, ResultTextsNameEveryCode) {
    for (int code : {0,  1,  3,  4,  5,  6,  7,  14, 15, 16, 17, 18, 19, 20, 21,
                     23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36}) {
        EXPECT_STRNE("unknown result code", DbgDev::ResultText(code)) << code;
    }
    EXPECT_STREQ("unknown result code", DbgDev::ResultText(2));
}

}  // namespace
}  // namespace dravik::test
