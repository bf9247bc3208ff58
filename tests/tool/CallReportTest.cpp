#include <gtest/gtest.h>

#include "ToolTestSupport.h"
#include "dravik/swv/CallReport.h"

namespace dravik::swv {
namespace {

TEST(CallReport, NamesTheFunctionTheResultTheStepAndBothTexts) {
    CallFailure failure;
    failure.function = "DravikSetupDevice";
    failure.code = 28;
    failure.step = "Verifying written register TPIU_ACPR";
    failure.error = "Unable to verify TPIU_ACPR register, expected: 35, got: 0";
    failure.warning = "something to know";
    EXPECT_EQ(formatCallFailure(failure),
              "dravik-swv: DravikSetupDevice failed with result 28\n"
              "  step: Verifying written register TPIU_ACPR\n"
              "  error: Unable to verify TPIU_ACPR register, expected: 35, got: 0\n"
              "  warning: something to know\n");
}

TEST(CallReport, LeavesOutWhatIsEmpty) {
    CallFailure failure;
    failure.function = "DbgDev::ReadDebugRegister(ITM_TCR)";
    failure.code = 26;
    failure.codeText = "no probe found, or probe not open";
    EXPECT_EQ(formatCallFailure(failure),
              "dravik-swv: DbgDev::ReadDebugRegister(ITM_TCR) failed with result 26 (no probe "
              "found, or probe not open)\n");
}

TEST(CallReport, CollectsTheTextsTheCallLeft) {
    test::FakeTraceInterface api;
    api.enumerateResult = 10;
    api.enumerateError = "Unable to enumerate, status: 26\n";
    char list[16];
    int size = sizeof list;
    int count = 0;
    api.enumerateDevices(list, &size, &count);
    const CallFailure failure = collectFailure(api, "DravikEnumerateDevices", 10);
    EXPECT_EQ(failure.step, "DravikEnumerateDevices - Called");
    EXPECT_EQ(failure.error, "Unable to enumerate, status: 26");  // its own line end dropped
    EXPECT_EQ(failure.warning, "");
}

TEST(CallReport, WithoutTheCopyOutFunctionsOnlyTheStep) {
    test::FakeTraceInterface api;
    api.missing = {EntryPoint::LastError, EntryPoint::LastWarning};
    const CallFailure failure = collectFailure(api, "DravikSelectDevice", 25);
    EXPECT_EQ(api.countCalls("DravikLast"), 0u);
    EXPECT_EQ(failure.error, "");
}

}  // namespace
}  // namespace dravik::swv
