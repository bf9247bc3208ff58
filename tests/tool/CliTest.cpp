// The built dravik-swv against the virtual probe bench: what works with probe listing alone.
#include <gtest/gtest.h>

#include "ToolProcess.h"
#include "ToolTestSupport.h"

namespace dravik::swv::test {
namespace {

TEST(Cli, HelpOnEverySubcommand) {
    for (const char* command : {"list", "capture", "decode", "doctor", "mem", "blink"}) {
        const ProcessResult result = runToolProcess({{command, "--help"}, ""});
        EXPECT_EQ(result.exitStatus, 0) << command;
        EXPECT_NE(result.out.find(std::string("Usage: dravik-swv ") + command), std::string::npos)
            << result.out;
    }
    const ProcessResult top = runToolProcess({{"--help"}, ""});
    EXPECT_EQ(top.exitStatus, 0);
    EXPECT_NE(top.out.find("Subcommands:"), std::string::npos);
}

TEST(Cli, Version) {
    const ProcessResult result = runToolProcess({{"--version"}, ""});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "dravik-swv 0.1.0\n");
}

TEST(Cli, ListsTheBenchProbe) {
    ProcessResult result = runToolProcess({{"list"}, ""});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "DRAVIK-BENCH-0001  0x0301  0xd7a0\n");
    EXPECT_EQ(result.err, "");

    result = runToolProcess({{"list", "--json"}, ""});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "[{\"serial\":\"DRAVIK-BENCH-0001\",\"ids\":[769,55200]}]\n");

    result = runToolProcess({{"list"}, "two"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "DRAVIK-BENCH-0001  0x0301  0xd7a0\nDRAVIK-BENCH-0002  0x0301  0xd7a0\n");
}

TEST(Cli, ListWithoutAProbe) {
    const ProcessResult result = runToolProcess({{"list"}, "empty"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "dravik-swv: no probe found\n");
}

TEST(Cli, BadArgumentsAreRejectedWithStatusTwo) {
    ProcessResult result = runToolProcess({{"capture", "--clock", "72000000"}, "empty"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.err,
              "dravik-swv capture: give --prescaler or --swo-rate with --clock\n"
              "Run with --help for more information.\n");
    result = runToolProcess({{"capture", "--clock", "72000000", "--swo-rate", "20000000"}, ""});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.err,
              "dravik-swv: no prescaler gives 20000000 bit/s from 72000000 Hz within 3 %: the "
              "closest is 18000000 bit/s (72000000 Hz / 4), error -10.000 %; use --force to "
              "accept it\n");
    result = runToolProcess({{"nonsense"}, ""});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_FALSE(result.err.empty());
}

TEST(Cli, DecodesAPlainDump) {
    TempDir dir;
    const std::string path = dir.path("trace.bin");
    ItmStream stream;
    stream.text(0, "hello\n").write(1, 4, 7);
    writeBytes(path, stream.bytes());
    const ProcessResult result =
        runToolProcess({{"decode", path, "--port", "0=text", "--port", "1=dec"}, ""});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "[0] hello\n[1] 7\n");
    // The same from standard input.
    ToolRun fromStdin({"decode", "-", "--port", "0=text", "--port", "1=dec"});
    fromStdin.stdinPath = path;
    const ProcessResult piped = runToolProcess(fromStdin);
    EXPECT_EQ(piped.exitStatus, 0) << piped.err;
    EXPECT_EQ(piped.out, "[0] hello\n[1] 7\n");
}

}  // namespace
}  // namespace dravik::swv::test
