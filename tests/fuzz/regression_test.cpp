// Replays every kept fuzz input through its target's entry function: the named regressions (each
// once a crash or a sanitizer report) and the seed inputs. A replay passes when it returns; a
// broken invariant aborts the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzTargets.h"

namespace dravik::fuzz {
namespace {

namespace fs = std::filesystem;

using Entry = int (*)(const uint8_t*, size_t);

std::vector<uint8_t> Contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Every file under <root>/<target>, in name order; the number of files replayed.
size_t Replay(const char* root, const char* target, Entry entry) {
    const fs::path dir = fs::path(root) / target;
    if (!fs::is_directory(dir)) {
        return 0;
    }
    std::vector<fs::path> files;
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
        if (e.is_regular_file() && e.path().filename().string()[0] != '.') {
            files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        const std::vector<uint8_t> bytes = Contents(file);
        EXPECT_EQ(0, entry(bytes.data(), bytes.size()));
    }
    return files.size();
}

struct Target {
    const char* name;
    Entry entry;
};

const Target kTargets[] = {
    {"exported_calls", FuzzExportedCalls},
    {"decoder", FuzzDecoder},
    {"decoder_differential", FuzzDecoderDifferential},
    {"stream_frames", FuzzStreamFrames},
#ifdef DRAVIK_FUZZ_DESCRIPTION
    {"bench_description", FuzzBenchDescription},
#endif
};

void PrintTo(const Target& target, std::ostream* os) {
    *os << target.name;
}

class FuzzRegressionTest : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzRegressionTest, KeptInputsReplayCleanly) {
    const size_t regressions = Replay(DRAVIK_FUZZ_REGRESSIONS, GetParam().name, GetParam().entry);
    const size_t seeds = Replay(DRAVIK_FUZZ_CORPUS, GetParam().name, GetParam().entry);
    EXPECT_GT(regressions + seeds, 0u) << "every target keeps at least one input";
}

TEST_P(FuzzRegressionTest, EmptyAndTinyInputs) {
    const uint8_t bytes[4] = {0xFF, 0x00, 0x80, 0x7F};
    for (size_t n = 0; n <= sizeof bytes; ++n) {
        EXPECT_EQ(0, GetParam().entry(bytes, n));
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegressionTest, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dravik::fuzz
