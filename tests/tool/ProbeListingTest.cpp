#include <gtest/gtest.h>

#include "dravik/swv/ProbeListing.h"

namespace dravik::swv {
namespace {

TEST(ProbeListing, ReadsTheLibrarysLines) {
    const std::vector<ProbeEntry> probes =
        parseProbeListing("DRAVIK-BENCH-0001\t769\t55200\nSECOND\t1\t2\n");
    ASSERT_EQ(probes.size(), 2u);
    EXPECT_EQ(probes[0].serial, "DRAVIK-BENCH-0001");
    EXPECT_EQ(probes[0].firstId, 769u);
    EXPECT_EQ(probes[0].secondId, 55200u);
    EXPECT_EQ(probes[1].serial, "SECOND");
}

TEST(ProbeListing, SkipsLinesItCannotRead) {
    const std::vector<ProbeEntry> probes =
        parseProbeListing("\nno tabs\n\t1\t2\nA\tx\t2\nB\t1\nC\t3\t4");
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0].serial, "C");
    EXPECT_EQ(probes[0].secondId, 4u);
}

TEST(ProbeListing, ForPeopleAndForScripts) {
    const std::vector<ProbeEntry> probes = {{"DRAVIK-BENCH-0001", 769, 55200}, {"QUOTE\"D", 1, 2}};
    EXPECT_EQ(formatProbeList(probes),
              "DRAVIK-BENCH-0001  0x0301  0xd7a0\n"
              "QUOTE\"D  0x0001  0x0002\n");
    EXPECT_EQ(formatProbeListJson(probes),
              "[{\"serial\":\"DRAVIK-BENCH-0001\",\"ids\":[769,55200]},"
              "{\"serial\":\"QUOTE\\\"D\",\"ids\":[1,2]}]\n");
    EXPECT_EQ(formatProbeListJson({}), "[]\n");
}

}  // namespace
}  // namespace dravik::swv
