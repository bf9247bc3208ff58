// How answers reach the host's buffer: a short transfer (the probe acts on the command, but only
// the first bytes of its answer arrive, and the call still reports success), and scripted answers
// of no bytes at all.
#include <gtest/gtest.h>

#include <cstring>

#include "DbgDevFixture.h"
#include "DravikUSBDriver.h"

namespace dravik::test {
namespace {

using sim::Fault;

class BenchAnswerDeliveryTest : public BenchTest {
  protected:
    void* OpenFirst() {
        EXPECT_EQ(1u, Dravik_Reenumerate(DRAVIK_USB_INTERFACE, 0));
        void* handle = nullptr;
        EXPECT_EQ(1u, Dravik_OpenDevice(DRAVIK_USB_INTERFACE, 0, 0, &handle));
        return handle;
    }
    static TDeviceRequest Record(uint8_t cls, uint8_t sub, uint8_t direction, void* buffer,
                                 unsigned length) {
        TDeviceRequest r;
        std::memset(&r, 0, sizeof r);
        r.cdbLength = direction == DRAVIK_DIR_TRACE_STREAM ? 0 : 10;
        r.cdb[0] = cls;
        r.cdb[1] = sub;
        r.direction = direction;
        r.buffer = buffer;
        r.bufferLength = length;
        r.senseLength = 14;
        return r;
    }
};

TEST_F(BenchAnswerDeliveryTest, OnlyTheFirstAnswerBytesArrive) {
    void* handle = OpenFirst();
    uint8_t buffer[6];
    std::memset(buffer, 0xEE, sizeof buffer);
    TDeviceRequest version = Record(0xF1, 0x80, DRAVIK_DIR_FROM_PROBE, buffer, sizeof buffer);
    bench().injectFault(1, Fault{Fault::Kind::ShortTransfer, 1});
    EXPECT_EQ(1u, Dravik_SendCommand(handle, &version, 5000));
    EXPECT_NE(0xEE, buffer[0]) << "the first byte arrived";
    for (size_t i = 1; i < sizeof buffer; ++i) {
        EXPECT_EQ(0xEE, buffer[i]) << "byte " << i << " stays as the host had it";
    }
    EXPECT_EQ(1u, bench().log().back().result);
    Dravik_CloseDevice(handle);
}

TEST_F(BenchAnswerDeliveryTest, TheProbeStillActsOnTheCommand) {
    void* handle = OpenFirst();
    sim::SimProbe& probe = bench().probe(0);
    probe.swv().start(2000000, 16);
    const uint8_t fed[5] = {1, 2, 3, 4, 5};
    probe.feedSwv(fed, sizeof fed);
    uint8_t buffer[5] = {0, 0, 0, 0, 0};
    TDeviceRequest read = Record(0, 0, DRAVIK_DIR_TRACE_STREAM, buffer, sizeof buffer);
    bench().injectFault(1, Fault{Fault::Kind::ShortTransfer, 3});
    EXPECT_EQ(1u, Dravik_SendCommand(handle, &read, 5000));
    const uint8_t expected[5] = {1, 2, 3, 0, 0};
    EXPECT_EQ(0, std::memcmp(expected, buffer, sizeof buffer));
    EXPECT_EQ(0u, probe.swv().pending()) << "the receiver gave all five bytes away";
    EXPECT_EQ(5u, probe.swv().counters().delivered);
    Dravik_CloseDevice(handle);
}

TEST_F(BenchAnswerDeliveryTest, ACutAtOrPastTheLengthChangesNothing) {
    void* handle = OpenFirst();
    uint8_t cut[2] = {0xEE, 0xEE}, whole[2] = {0xEE, 0xEE};
    TDeviceRequest mode = Record(0xF5, 0, DRAVIK_DIR_FROM_PROBE, cut, sizeof cut);
    bench().injectFault(1, Fault{Fault::Kind::ShortTransfer, 2});
    EXPECT_EQ(1u, Dravik_SendCommand(handle, &mode, 5000));
    mode.buffer = whole;
    EXPECT_EQ(1u, Dravik_SendCommand(handle, &mode, 5000));
    EXPECT_EQ(0, std::memcmp(whole, cut, sizeof cut));
    Dravik_CloseDevice(handle);
}

// Found by fuzzing: an empty scripted answer handed memcpy a null source.
TEST_F(BenchAnswerDeliveryTest, AnEmptyScriptedAnswerLeavesTheBufferAlone) {
    void* handle = OpenFirst();
    uint8_t buffer[2] = {0xEE, 0xEE};
    TDeviceRequest mode = Record(0xF5, 0, DRAVIK_DIR_FROM_PROBE, buffer, sizeof buffer);
    bench().script(sim::ScriptedAnswer::Bytes({}));
    EXPECT_EQ(1u, Dravik_SendCommand(handle, &mode, 5000));
    EXPECT_EQ(0xEE, buffer[0]);
    EXPECT_EQ(0xEE, buffer[1]);
    EXPECT_EQ(0u, bench().pendingScripts()) << "the script was used";
    Dravik_CloseDevice(handle);
}

}  // namespace
}  // namespace dravik::test
