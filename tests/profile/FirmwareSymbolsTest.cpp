// The symbol table against the test firmware (and a few files it must refuse), the weighted
// ranges made from it, and a profile of PC samples drawn from those ranges, sent through the
// decoder as the target's bytes.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "ProfileTestSupport.h"
#include "dravik/itm/Decoder.h"
#include "dravik/profile/Profiler.h"
#include "dravik/profile/SymbolTable.h"
#include "dravik/profile/WeightedRanges.h"

namespace dravik::profile {
namespace {

using test::firmwareFile;

// The number of the source line holding `marker`, 0 if none does.
uint32_t sourceLineOf(const std::string& marker) {
    std::ifstream source(DRAVIK_PROFILE_FIRMWARE_SOURCE);
    std::string text;
    for (uint32_t number = 1; std::getline(source, text); ++number) {
        if (text.find(marker) != std::string::npos) {
            return number;
        }
    }
    return 0;
}

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

class Firmware : public testing::Test {
  protected:
    void SetUp() override {
        DRAVIK_NEEDS_FIRMWARE();
        std::string error;
        ASSERT_TRUE(symbols.load(firmwareFile("profile_target.elf"), error)) << error;
    }
    SymbolTable symbols;
};

struct SizedFunction {
    const char* name;
    uint32_t size;
};
// The functions written out in instructions: n nops and a return, two bytes each.
const SizedFunction kSized[] = {
    {"work_heavy", 128}, {"work_medium", 64}, {"work_light", 32}, {"idle_wait", 4}};

TEST_F(Firmware, FunctionsHaveTheirSizesAndLookUpByEveryByte) {
    for (const SizedFunction& expected : kSized) {
        SCOPED_TRACE(expected.name);
        const FunctionSymbol* f = symbols.find(expected.name);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->size, expected.size);
        EXPECT_EQ(f->address % 2, 0u) << "Thumb bit left set";
        EXPECT_EQ(symbols.functionAt(f->address), f);
        EXPECT_EQ(symbols.functionAt(f->address + 1), f);  // a PC with the Thumb bit
        EXPECT_EQ(symbols.functionAt(f->address + f->size - 1), f);
        EXPECT_NE(symbols.functionAt(f->address + f->size), f);
    }
    // The vector table is data at the start of flash.
    EXPECT_EQ(symbols.find("g_vectors"), nullptr);
    EXPECT_EQ(symbols.functionAt(0x08000000), nullptr);
    ASSERT_NE(symbols.find("checksum"), nullptr);
    ASSERT_NE(symbols.find("Reset_Handler"), nullptr);
}

TEST_F(Firmware, WeakAliasesGoByTheNameOfTheHandlerTheyStandFor) {
    const FunctionSymbol* handler = symbols.find("Default_Handler");
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ(symbols.functionAt(handler->address), handler);
    EXPECT_EQ(symbols.find("NMI_Handler"), nullptr);
    EXPECT_EQ(symbols.find("IRQ0_Handler"), nullptr);
}

TEST_F(Firmware, SamplesFindTheirSourceLines) {
    ASSERT_TRUE(symbols.hasLines());
    const FunctionSymbol* heavy = symbols.find("work_heavy");
    ASSERT_NE(heavy, nullptr);
    const std::optional<SourceLine> body = symbols.lineAt(heavy->address + 64);
    ASSERT_TRUE(body.has_value());
    EXPECT_TRUE(endsWith(body->file, "tests/firmware/profile_target.c")) << body->file;
    EXPECT_EQ(body->line, sourceLineOf("line: work_heavy body"));

    // The loop's line has code inside checksum().
    const FunctionSymbol* checksum = symbols.find("checksum");
    ASSERT_NE(checksum, nullptr);
    const uint32_t loop = sourceLineOf("line: checksum loop");
    bool found = false;
    for (const LineRange& range : symbols.lines()) {
        found = found || (range.line == loop && checksum->contains(range.address));
    }
    EXPECT_TRUE(found);
}

TEST(FirmwareFiles, AnImageWithoutLineInformationHasFunctionsOnly) {
    DRAVIK_NEEDS_FIRMWARE();
    SymbolTable full;
    SymbolTable bare;
    std::string error;
    ASSERT_TRUE(full.load(firmwareFile("profile_target.elf"), error)) << error;
    ASSERT_TRUE(bare.load(firmwareFile("profile_target-nolines.elf"), error)) << error;
    EXPECT_FALSE(bare.hasLines());
    EXPECT_EQ(bare.functions().size(), full.functions().size());
    EXPECT_FALSE(bare.lineAt(bare.find("work_heavy")->address).has_value());
}

TEST(FirmwareFiles, RefusesWhatIsNotALinkedArmImageAndKeepsTheTableItHad) {
    DRAVIK_NEEDS_FIRMWARE();
    const std::string source = DRAVIK_PROFILE_FIRMWARE_SOURCE;
    const struct {
        std::string path;
        std::string message;
    } cases[] = {
        {firmwareFile("missing.elf"),
         "cannot open " + firmwareFile("missing.elf") + ": No such file or directory"},
        {source, source + " is not an ELF file"},
        {"/proc/self/exe", "/proc/self/exe is an ELF file for x86-64, not for Arm"},
        {firmwareFile("profile_target.o"),
         firmwareFile("profile_target.o") + " is a relocatable object, not a linked program"},
        {firmwareFile("profile_target-stripped.elf"),
         firmwareFile("profile_target-stripped.elf") +
             " has no function symbols with sizes (was it stripped?)"},
    };
    SymbolTable symbols;
    std::string error;
    ASSERT_TRUE(symbols.load(firmwareFile("profile_target.elf"), error)) << error;
    const size_t functions = symbols.functions().size();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        error.clear();
        EXPECT_FALSE(symbols.load(c.path, error));
        EXPECT_EQ(error, c.message);
        EXPECT_EQ(symbols.functions().size(), functions);
    }
}

TEST(SymbolTableParts, RangesAreSortedWithoutOverlapsOrEmptyFunctions) {
    const SymbolTable symbols = SymbolTable::fromParts({
        {"later", 0x2001, 0x10},  // Thumb bit set
        {"outer", 0x1000, 0x100},
        {"inner", 0x1080, 0x20},  // inside outer: outer ends where it starts
        {"empty", 0x3000, 0},
    });
    ASSERT_EQ(symbols.functions().size(), 3u);
    EXPECT_EQ(symbols.functions()[0].name, "outer");
    EXPECT_EQ(symbols.functions()[0].size, 0x80u);
    EXPECT_EQ(symbols.functions()[2].address, 0x2000u);
    const struct {
        uint32_t pc;
        const char* name;  // "-": no function
    } lookups[] = {{0x0FFF, "-"},     {0x1000, "outer"}, {0x107F, "outer"}, {0x1080, "inner"},
                   {0x109F, "inner"}, {0x10A0, "-"},     {0x2000, "later"}, {0x200F, "later"},
                   {0x2010, "-"},     {0x3000, "-"},     {0xFFFFFFFF, "-"}};
    for (const auto& l : lookups) {
        const FunctionSymbol* f = symbols.functionAt(l.pc);
        EXPECT_EQ(f == nullptr ? "-" : f->name, l.name) << std::hex << l.pc;
    }
}

TEST_F(Firmware, WeightedRangesCoverTheNamedFunctions) {
    std::vector<WeightedRange> ranges;
    std::string error;
    ASSERT_TRUE(weightedRanges(symbols, {{"work_heavy", 4}, {"checksum", 1}}, ranges, error));
    ASSERT_EQ(ranges.size(), 2u);
    const FunctionSymbol* heavy = symbols.find("work_heavy");
    EXPECT_EQ(ranges[0].function, "work_heavy");
    EXPECT_EQ(ranges[0].start, heavy->address);
    EXPECT_EQ(ranges[0].end, heavy->address + 128);
    EXPECT_EQ(ranges[0].weight, 4);
    EXPECT_EQ(ranges[1].function, "checksum");

    const struct {
        std::vector<std::pair<std::string, double>> weights;
        const char* message;
    } refused[] = {
        {{{"no_such", 1}}, "no function no_such in the symbol table"},
        {{{"work_light", 1}, {"work_light", 2}}, "function work_light is given twice"},
        {{{"work_light", -1}}, "the weight of work_light must be a number of 0 or more"},
    };
    for (const auto& r : refused) {
        error.clear();
        EXPECT_FALSE(weightedRanges(symbols, r.weights, ranges, error));
        EXPECT_EQ(error, r.message);
    }
    EXPECT_EQ(ranges.size(), 2u);  // untouched by the refusals
}

// Appends a PC sample packet as the DWT sends it.
void encodePc(uint32_t pc, std::vector<uint8_t>& bytes) {
    bytes.push_back(0x17);
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(static_cast<uint8_t>(pc >> (8 * i)));
    }
}

TEST_F(Firmware, SamplesDrawnFromWeightedRangesComeBackAsTheirShares) {
    std::vector<WeightedRange> ranges;
    std::string error;
    ASSERT_TRUE(weightedRanges(symbols, {{"work_heavy", 4}, {"work_medium", 2}, {"checksum", 1}},
                               ranges, error));
    // 10 rounds of 10 samples: each range its weight, spread over its bytes; two asleep, one
    // outside every function (the vector table).
    std::vector<uint8_t> bytes;
    for (uint32_t round = 0; round < 10; ++round) {
        for (const WeightedRange& r : ranges) {
            for (uint32_t k = 0; k < r.weight; ++k) {
                encodePc(r.start + ((round * 7 + k * 13) * 2) % (r.end - r.start), bytes);
            }
        }
        bytes.insert(bytes.end(), {0x15, 0x00, 0x15, 0x00});
        encodePc(0x08000010, bytes);
    }
    Profiler profiler(symbols, {});
    itm::Decoder decoder;
    decoder.feed(bytes.data(), bytes.size(),
                 [&](const itm::Packet& packet) { profiler.add(packet, std::nullopt); });
    const ProfileReport report = profiler.takeInterval(1.0);
    EXPECT_EQ(report.samples, 100u);
    ASSERT_EQ(report.functions.size(), 3u);
    EXPECT_EQ(report.functions[0].name, "work_heavy");
    EXPECT_EQ(report.functions[0].share, 0.4);
    EXPECT_EQ(report.functions[1].name, "work_medium");
    EXPECT_EQ(report.functions[1].share, 0.2);
    EXPECT_EQ(report.functions[2].name, "checksum");
    EXPECT_EQ(report.functions[2].share, 0.1);
    EXPECT_EQ(report.sleepShare, 0.2);
    EXPECT_EQ(report.unknownSamples, 10u);
}

}  // namespace
}  // namespace dravik::profile
