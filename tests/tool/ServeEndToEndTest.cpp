// The built dravik-swv serving a bench capture to the test's clients, and decoding its own
// server's stream. --wait-clients keeps the target halted until every client is there, so each
// gets the trace from its first byte; on the bench's manual clock the trace comes no faster than
// the tool polls, and a client's 4 MiB queue holds far more than such a capture sends, so a busy
// machine makes the capture shorter, never lossy.
#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "EndToEndSupport.h"
#include "StreamTestSupport.h"
#include "ToolProcess.h"
#include "ToolTestSupport.h"

namespace dravik::swv::test {
namespace {

using stream::test::TestClient;

// The ports the tool serves on, in the order of its options, once it has printed them all.
std::vector<std::string> servedPorts(const ToolProcess& tool, size_t count) {
    const std::regex line(
        R"(dravik-swv: serving (?:the raw trace|frames of the trace \(tag 1\)) on 127\.0\.0\.1:(\d+)\n)");
    std::vector<std::string> ports;
    const bool found = stream::test::eventually([&] {
        const std::string err = tool.errSoFar();
        ports.clear();
        for (auto it = std::sregex_iterator(err.begin(), err.end(), line);
             it != std::sregex_iterator(); ++it) {
            ports.push_back((*it)[1].str());
        }
        return ports.size() == count;
    });
    EXPECT_TRUE(found) << tool.errSoFar();
    return ports;
}

TEST(ServeEndToEnd, EveryClientGetsWhatTheRecordingHolds) {
    SKIP_WITHOUT_TRACE();
    TempDir dir;
    const std::string recording = dir.path("trace.rec");
    std::vector<std::string> args = {"serve"};
    args.insert(args.end(), kBenchRate.begin(), kBenchRate.end());
    args.insert(args.end(), {"--duration", "1", "--ports", "0x3", "--serve", "0", "--serve-frames",
                             "0", "--wait-clients", "6", "--raw", recording});
    ToolProcess tool(onBench(args));
    const std::vector<std::string> ports = servedPorts(tool, 2);
    ASSERT_EQ(ports.size(), 2u);
    std::vector<std::unique_ptr<TestClient>> raw, frames;
    for (int i = 0; i < 3; ++i) {
        for (auto* clients : {&raw, &frames}) {
            const std::string& port = ports[clients == &raw ? 0 : 1];
            clients->push_back(
                std::make_unique<TestClient>(static_cast<uint16_t>(std::stoi(port))));
            clients->back()->startReading();
        }
    }
    const ProcessResult result = tool.wait();
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "");

    const Bytes trace = recordedTrace(recording);
    ASSERT_GT(trace.size(), 1000u) << result.err;
    for (const auto& client : raw) {
        ASSERT_TRUE(client->waitForEnd());
        EXPECT_EQ(client->received(), trace);
    }
    for (const auto& client : frames) {
        ASSERT_TRUE(client->waitForEnd());
        const stream::test::DecodedStream decoded = stream::test::decodeStream(client->received());
        EXPECT_EQ(decoded.trace, trace);
        EXPECT_EQ(decoded.badFrames, 0u);
    }
    EXPECT_EQ(occurrences(result.err, "\n  client "), 6u) << result.err;
    EXPECT_EQ(occurrences(result.err,
                          " (raw): sent " + std::to_string(trace.size()) + " B, dropped 0 B\n"),
              3u)
        << result.err;
    EXPECT_EQ(occurrences(result.err, " (frames): sent "), 3u) << result.err;
}

TEST(ServeEndToEnd, DecodeOfTheServedStreamShowsWhatTheCaptureShowed) {
    SKIP_WITHOUT_TRACE();
    ToolProcess tool(onBench(capture({"--duration", "1", "--ports", "0x3", "--serve", "0",
                                      "--serve-frames", "0", "--wait-clients", "2"})));
    const std::vector<std::string> ports = servedPorts(tool, 2);
    ASSERT_EQ(ports.size(), 2u);
    ToolProcess overRaw(ToolRun({"decode", "tcp://127.0.0.1:" + ports[0]}));
    ToolProcess overFrames(ToolRun({"decode", "frames://127.0.0.1:" + ports[1]}));
    const ProcessResult captured = tool.wait();
    ASSERT_EQ(captured.exitStatus, 0) << captured.err;
    ASSERT_FALSE(captured.out.empty()) << captured.err;
    std::smatch count;
    ASSERT_TRUE(std::regex_search(captured.err, count, std::regex("captured (\\d+) bytes")));
    for (ToolProcess* decode : {&overRaw, &overFrames}) {
        const ProcessResult decoded = decode->wait();
        EXPECT_EQ(decoded.exitStatus, 0) << decoded.err;
        EXPECT_EQ(decoded.out, captured.out);
        EXPECT_NE(decoded.err.find("decoded " + count[1].str() + " bytes in "), std::string::npos)
            << decoded.err;
        EXPECT_NE(decoded.err.find(": the server closed the stream\n"), std::string::npos)
            << decoded.err;
    }
}

}  // namespace
}  // namespace dravik::swv::test
