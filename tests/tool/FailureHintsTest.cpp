#include <gtest/gtest.h>

#include "dravik/swv/FailureHints.h"

namespace dravik::swv {
namespace {

TEST(FailureHints, TheModesATpiuOffers) {
    const struct {
        std::optional<uint32_t> type;
        const char* hint;
    } cases[] = {
        {0x880, "this TPIU offers NRZ only (TPIU_TYPE 0x00000880): use --mode nrz"},
        {0x4A0, "this TPIU offers Manchester only (TPIU_TYPE 0x000004A0): use --mode manchester"},
        {0xCA0, "this TPIU offers NRZ and Manchester (TPIU_TYPE 0x00000CA0): use --mode nrz"},
        {0x0A0,
         "this TPIU offers neither NRZ nor Manchester (TPIU_TYPE 0x000000A0): it has no "
         "SWO output"},
        {std::nullopt, "--mode nrz, manchester or auto must name an encoding this TPIU offers"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(transmitModeHint(c.type), c.hint);
    }
}

TEST(FailureHints, OnlyANotFoundSerialListsTheProbes) {
    CallFailure failure;
    failure.code = 25;
    EXPECT_TRUE(selectionHintListsProbes(failure));
    EXPECT_EQ(selectionHint(failure, "X", nullptr), "");
    const std::vector<ProbeEntry> none;
    EXPECT_EQ(selectionHint(failure, "X", &none), "no probe is connected");
    const std::vector<ProbeEntry> two = {{"A", 1, 2}, {"B", 1, 2}};
    EXPECT_EQ(selectionHint(failure, "X", &two),
              "X is not connected; connected: A, B (choose one with --serial)");
    failure.code = 4;
    EXPECT_FALSE(selectionHintListsProbes(failure));
    // A refusal for another reason than the generation has nothing to add.
    failure.code = 403;
    failure.error = "Another device is already selected, disconnect first";
    EXPECT_EQ(selectionHint(failure, "X", nullptr), "");
}

}  // namespace
}  // namespace dravik::swv
