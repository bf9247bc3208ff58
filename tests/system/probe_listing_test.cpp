// DravikEnumerateDevices: the listing text, its capacity rule and the probes left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "DbgDevFixture.h"
#include "DravikTrace.h"

namespace dravik::test {
namespace {

class ProbeListingTest : public BenchTest {
  protected:
    void TearDown() override {
        DravikCloseDevice();
        BenchTest::TearDown();
    }
};

const char kDefaultLine[] = "DRAVIK-BENCH-0001\t769\t55200\n";

TEST_F(ProbeListingTest, DefaultBenchListsOneLine) {
    char list[128];
    int size = sizeof list, count = -1;
    EXPECT_EQ(0, DravikEnumerateDevices(nullptr, list, &size, &count));
    EXPECT_STREQ(kDefaultLine, list);
    EXPECT_EQ(int(std::strlen(kDefaultLine)), size);
    EXPECT_EQ(1, count);
}

TEST_F(ProbeListingTest, CapacityExactlyOneMoreThanTheLineLeavesTheBufferUntouched) {
    const int line = int(std::strlen(kDefaultLine));
    char list[64];
    std::memset(list, '#', sizeof list);
    int size = line + 1, count = -1;
    EXPECT_EQ(-1, DravikEnumerateDevices(nullptr, list, &size, &count));
    EXPECT_EQ(0, size);
    EXPECT_EQ(0, count);
    EXPECT_TRUE(std::all_of(list, list + sizeof list, [](char c) { return c == '#'; }));
    EXPECT_STREQ("Device information could not be written to return buffer, ignoring",
                 g_warningMsg);

    std::memset(list, '#', sizeof list);
    size = line + 2;
    EXPECT_EQ(0, DravikEnumerateDevices(nullptr, list, &size, &count));
    EXPECT_EQ(line, size);
    EXPECT_EQ(0, std::memcmp(list, kDefaultLine, size_t(line) + 1));
    EXPECT_EQ('#', list[line + 1]) << "one byte stays unused";
}

TEST_F(ProbeListingTest, ALaterShorterLineStillFits) {
    bench().clear();
    bench().addProbe(TestProbe().serial("A1").listedAs(1, 2));  // "A1\t2\t1\n": 7
    bench().addProbe(TestProbe().serial("LONG-SERIAL-NUMBER-0123456789").listedAs(3, 4));  // 36
    bench().addProbe(TestProbe().serial("C3").listedAs(5, 6));                             // 7
    char list[64];
    int size = 20, count = -1;
    EXPECT_EQ(-1, DravikEnumerateDevices(nullptr, list, &size, &count));
    EXPECT_STREQ("A1\t2\t1\nC3\t6\t5\n", list);
    EXPECT_EQ(14, size);
    EXPECT_EQ(2, count);
}

TEST_F(ProbeListingTest, KProbesGiveKNewlines) {
    bench().clear();
    for (int i = 0; i < 5; ++i) {
        bench().addProbe(TestProbe()
                             .serial("SN" + std::to_string(i))
                             .listedAs(uint16_t(100 + i), uint16_t(65535 - i)));
    }
    char list[512];
    int size = sizeof list, count = -1;
    EXPECT_EQ(0, DravikEnumerateDevices(nullptr, list, &size, &count));
    EXPECT_EQ(5, count);
    EXPECT_EQ(5, std::count(list, list + size, '\n'));
    EXPECT_EQ(int(std::strlen(list)), size);
    EXPECT_EQ(0, std::strncmp(list, "SN0\t65535\t100\nSN1\t65534\t101\n", 28));
}

TEST_F(ProbeListingTest, UnterminatedSerialFieldIsReadToItsThirtyTwoBytes) {
    bench().clear();
    bench().addProbe(TestProbe().serial(std::string(40, 'S')).listedAs(1, 2));
    char list[128];
    int size = sizeof list, count = -1;
    EXPECT_EQ(0, DravikEnumerateDevices(nullptr, list, &size, &count));
    EXPECT_EQ(std::string(32, 'S') + "\t2\t1\n", std::string(list));
}

TEST_F(ProbeListingTest, ADescriptionFailureLeavesTheProbeOut) {
    bench().clear();
    bench().addProbe(TestProbe().serial("A"));
    bench().addProbe(TestProbe().serial("B"));
    bench().probe(1).config.infoResult = 0;
    bench().addProbe(TestProbe().serial("C"));
    char list[128];
    int size = sizeof list, count = -1;
    EXPECT_EQ(-1, DravikEnumerateDevices(nullptr, list, &size, &count));
    EXPECT_EQ(2, count);
    EXPECT_STREQ("Unable to read info for 1, status: 24", g_warningMsg);
    EXPECT_STREQ("", g_errorMsg);
}

TEST_F(ProbeListingTest, EnumerationFailureLeavesTheOutParametersAlone) {
    bench().clear();
    char list[16] = "untouched";
    int size = 16, count = 42;
    EXPECT_EQ(10, DravikEnumerateDevices(nullptr, list, &size, &count));
    EXPECT_STREQ("Unable to enumerate, status: 26\n", g_errorMsg);
    EXPECT_EQ(16, size);
    EXPECT_EQ(42, count);
    EXPECT_STREQ("untouched", list);
}

TEST_F(ProbeListingTest, NullArgumentsAreRefusedBeforeAnyLibraryCall) {
    char list[16];
    int size = 16, count = 0;
    EXPECT_EQ(20, DravikEnumerateDevices(nullptr, nullptr, &size, &count));
    EXPECT_STREQ("Unable to enumerate, null list", g_errorMsg);
    EXPECT_EQ(20, DravikEnumerateDevices(nullptr, list, nullptr, &count));
    EXPECT_STREQ("Unable to enumerate, null listSize", g_errorMsg);
    EXPECT_EQ(20, DravikEnumerateDevices(nullptr, list, &size, nullptr));
    EXPECT_STREQ("Unable to enumerate, null deviceCount", g_errorMsg);
    EXPECT_TRUE(bench().log().empty());
}

TEST_F(ProbeListingTest, EachCallEnumeratesAfreshAndKeepsTheFirstPath) {
    char list[128];
    int size = sizeof list, count = 0;
    DravikEnumerateDevices("/first", list, &size, &count);
    bench().addProbe(TestProbe().serial("NEW"));
    size = sizeof list;
    EXPECT_EQ(0, DravikEnumerateDevices("/second", list, &size, &count));
    EXPECT_EQ(2, count);
    EXPECT_STREQ("/first", DbgDevTestPeer::driverPath(*g_dev));
}

}  // namespace
}  // namespace dravik::test
