#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "dravik/itm/Packet.h"

namespace dravik::itm {
namespace {

TEST(PacketNamesTest, EveryKindHasItsName) {
    const std::vector<std::pair<PacketKind, std::string>> names = {
        {PacketKind::Sync, "sync"},
        {PacketKind::Overflow, "overflow"},
        {PacketKind::Instrumentation, "instrumentation"},
        {PacketKind::EventCounter, "event counter"},
        {PacketKind::ExceptionTrace, "exception trace"},
        {PacketKind::PeriodicPc, "PC sample"},
        {PacketKind::PeriodicPcSleep, "PC sleep"},
        {PacketKind::DataTracePc, "data trace PC"},
        {PacketKind::DataTraceAddress, "data trace address"},
        {PacketKind::DataTraceValue, "data trace value"},
        {PacketKind::LocalTimestamp1, "local timestamp 1"},
        {PacketKind::LocalTimestamp2, "local timestamp 2"},
        {PacketKind::GlobalTimestamp1, "global timestamp 1"},
        {PacketKind::GlobalTimestamp2, "global timestamp 2"},
        {PacketKind::StimulusPage, "stimulus page"},
        {PacketKind::Extension, "extension"},
    };
    ASSERT_EQ(names.size(), kPacketKindCount);
    for (const auto& [kind, name] : names) {
        EXPECT_EQ(packetKindName(kind), name);
    }
    EXPECT_STREQ(packetKindName(static_cast<PacketKind>(kPacketKindCount)), "unknown");
}

TEST(PacketNamesTest, RelationsAndFunctionsHaveNames) {
    EXPECT_STREQ(timestampRelationName(TimestampRelation::Synchronous), "synchronous");
    EXPECT_STREQ(timestampRelationName(TimestampRelation::TimestampDelayed), "timestamp delayed");
    EXPECT_STREQ(timestampRelationName(TimestampRelation::PacketDelayed), "packet delayed");
    EXPECT_STREQ(timestampRelationName(TimestampRelation::BothDelayed), "both delayed");
    EXPECT_STREQ(timestampRelationName(static_cast<TimestampRelation>(4)), "unknown");
    EXPECT_STREQ(exceptionFunctionName(ExceptionFunction::None), "none");
    EXPECT_STREQ(exceptionFunctionName(ExceptionFunction::Entered), "entered");
    EXPECT_STREQ(exceptionFunctionName(ExceptionFunction::Exited), "exited");
    EXPECT_STREQ(exceptionFunctionName(ExceptionFunction::Returned), "returned");
    EXPECT_STREQ(exceptionFunctionName(static_cast<ExceptionFunction>(9)), "unknown");
}

}  // namespace
}  // namespace dravik::itm
