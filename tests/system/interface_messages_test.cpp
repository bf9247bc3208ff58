// The interface's text buffers, the common prologue and the message copy-out functions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <cstdio>
#include "DbgDevFixture.h"
#include "DravikTrace.h"
#include "InterfaceText.h"

namespace dravik::test {
namespace {

class InterfaceMessagesTest : public BenchTest {
  protected:
    void TearDown() override {
        DravikCloseDevice();
        BenchTest::TearDown();
    }
    static void SetError(const char* text) { dravik::SetText(g_errorMsg, "%s", text); }
};

TEST_F(InterfaceMessagesTest, NoErrorAfterASuccessfulCall) {
    char list[256];
    int size = sizeof list, count = 0;
    ASSERT_EQ(0, DravikEnumerateDevices(nullptr, list, &size, &count));
    char text[16] = "unchanged";
    int length = 15;
    EXPECT_EQ(1, DravikLastError(text, &length));
    EXPECT_EQ(0, length);
    EXPECT_STREQ("unchanged", text) << "message is not touched";
    EXPECT_STREQ("DravikEnumerateDevices - Called", g_currentStep);
}

TEST_F(InterfaceMessagesTest, CopyOutOfAThreeCharacterError) {
    struct Row {
        int length;
        int result;
        int lengthAfter;
        const char expected[8];  // the bytes written, terminators included
        size_t written;
    };
    const Row rows[] = {
        {5, 0, 3, {'a', 'b', 'c', 0}, 4},
        {4, -1, 4, {'a', 'b', 'c', 0, 0}, 5},
        {2, -1, 2, {'a', 'b', 0}, 3},
        {0, -1, 0, {0}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        SetError("abc");
        char buffer[8];
        std::memset(buffer, '#', sizeof buffer);
        int length = row.length;
        EXPECT_EQ(row.result, DravikLastError(buffer, &length));
        EXPECT_EQ(row.lengthAfter, length);
        EXPECT_EQ(0, std::memcmp(row.expected, buffer, row.written));
        EXPECT_EQ('#', buffer[row.written]) << "nothing written past the terminator";
    }
}

TEST_F(InterfaceMessagesTest, NegativeOrNullLengthCopiesNothing) {
    SetError("abc");
    char buffer[8] = "#######";
    int length = -3;
    EXPECT_EQ(DRAVIK_BAD_ARGUMENT, DravikLastError(buffer, &length));
    EXPECT_EQ(-3, length);
    EXPECT_STREQ("#######", buffer);
    EXPECT_EQ(DRAVIK_BAD_ARGUMENT, DravikLastError(buffer, nullptr));
    length = 5;
    EXPECT_EQ(DRAVIK_BAD_ARGUMENT, DravikLastError(nullptr, &length));
}

TEST_F(InterfaceMessagesTest, LongTextsAreCutTo255Characters) {
    const std::string longText(400, 'x');
    dravik::SetText(g_errorMsg, "%s", longText.c_str());
    EXPECT_EQ(255u, std::strlen(g_errorMsg));
    char buffer[300];
    int length = 299;
    EXPECT_EQ(0, DravikLastError(buffer, &length));
    EXPECT_EQ(255, length);
    // A second write replaces the content entirely.
    dravik::SetText(g_errorMsg, "short");
    EXPECT_STREQ("short", g_errorMsg);
    EXPECT_EQ(0, g_errorMsg[6]);
}

// A host may fill all 256 bytes of an exported buffer, leaving no terminator inside it: the copy
// holds the 256 characters and a terminator of its own, and nothing past the buffer is read (the
// copy-out rules run here on a buffer whose neighbour is known, then through both functions).
TEST_F(InterfaceMessagesTest, FullBufferWithoutTerminatorIsCopiedWithOne) {
    struct {
        char text[DRAVIK_TEXT_SIZE];
        char after[8];
    } source;
    std::memset(source.text, 'x', sizeof source.text);
    std::memset(source.after, 'y', sizeof source.after);
    char copy[300];
    std::memset(copy, '#', sizeof copy);
    int length = 299;
    EXPECT_EQ(0, dravik::CopyOutText(source.text, copy, &length));
    EXPECT_EQ(DRAVIK_TEXT_SIZE, length);
    EXPECT_EQ(std::string(DRAVIK_TEXT_SIZE, 'x'), std::string(copy, DRAVIK_TEXT_SIZE));
    EXPECT_EQ('\0', copy[DRAVIK_TEXT_SIZE]);
    EXPECT_EQ('#', copy[DRAVIK_TEXT_SIZE + 1]);

    for (const auto copyOut : {DravikLastError, DravikLastWarning}) {
        std::memset(g_errorMsg, 'x', DRAVIK_TEXT_SIZE);
        std::memset(g_warningMsg, 'x', DRAVIK_TEXT_SIZE);
        std::memset(copy, '#', sizeof copy);
        length = 299;
        EXPECT_EQ(0, copyOut(copy, &length));
        EXPECT_EQ(DRAVIK_TEXT_SIZE, length);
        EXPECT_EQ('\0', copy[DRAVIK_TEXT_SIZE]);
        EXPECT_EQ('#', copy[DRAVIK_TEXT_SIZE + 1]);
    }
    ResetLog();
}

TEST_F(InterfaceMessagesTest, WarningCopyDoesNotClearTheError) {
    dravik::SetText(g_errorMsg, "the error");
    dravik::SetText(g_warningMsg, "the warning");
    char buffer[64];
    int length = 63;
    EXPECT_EQ(0, DravikLastWarning(buffer, &length));
    EXPECT_STREQ("the warning", buffer);
    length = 63;
    EXPECT_EQ(0, DravikLastError(buffer, &length));
    EXPECT_STREQ("the error", buffer);
    length = 63;
    EXPECT_EQ(0, DravikLastError(buffer, &length)) << "copying twice still works";
}

TEST_F(InterfaceMessagesTest, PrologueClearsAllThreeBuffers) {
    dravik::SetText(g_errorMsg, "old error");
    dravik::SetText(g_warningMsg, "old warning");
    char list[64];
    int size = sizeof list, count = 0;
    DravikEnumerateDevices(nullptr, list, &size, &count);  // any call with the prologue
    EXPECT_STRNE("old error", g_errorMsg);
    EXPECT_STRNE("old warning", g_warningMsg);
    ResetLog();
    for (const char* buffer : {g_currentStep, g_warningMsg, g_errorMsg}) {
        for (int i = 0; i < DRAVIK_TEXT_SIZE; ++i) {
            ASSERT_EQ(0, buffer[i]);
        }
    }
}

TEST_F(InterfaceMessagesTest, GetDbgDevCreatesOneUsbObject) {
    ASSERT_EQ(nullptr, g_dev);
    DbgDev* dev = GetDbgDev();
    ASSERT_NE(nullptr, dev);
    EXPECT_EQ(dev, GetDbgDev());
    EXPECT_EQ(DRAVIK_USB_INTERFACE, DbgDevTestPeer::interface(*dev));
    EXPECT_TRUE(bench().log().empty());
}

TEST_F(InterfaceMessagesTest, CloseWithoutDeviceObjectWarnsAndCreatesNone) {
    EXPECT_EQ(-1, DravikCloseDevice());
    EXPECT_STREQ("No device connected", g_warningMsg);
    EXPECT_STREQ("DravikCloseDevice - Called", g_currentStep);
    EXPECT_EQ(nullptr, g_dev);
}

TEST_F(InterfaceMessagesTest, CloseAfterListingDestroysTheObject) {
    char list[256];
    int size = sizeof list, count = 0;
    ASSERT_EQ(0, DravikEnumerateDevices(nullptr, list, &size, &count));
    ASSERT_NE(nullptr, g_dev);
    EXPECT_EQ(0, DravikCloseDevice());
    EXPECT_EQ(nullptr, g_dev);
    EXPECT_EQ(1u, bench().freeLibraryCalls());
    EXPECT_EQ(-1, DravikCloseDevice());
    EXPECT_STREQ("No device connected", g_warningMsg);
}

}  // namespace
}  // namespace dravik::test
