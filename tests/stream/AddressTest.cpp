#include <gtest/gtest.h>

#include "dravik/stream/Address.h"

namespace dravik::stream {
namespace {

TEST(ListenAddress, PortAloneMeansLoopback) {
    struct Case {
        const char* text;
        const char* host;
        uint16_t port;
        bool hostGiven;
    };
    const Case cases[] = {
        {"3443", "127.0.0.1", 3443, false},      {"0", "127.0.0.1", 0, false},
        {"0.0.0.0:3402", "0.0.0.0", 3402, true}, {"localhost:65535", "localhost", 65535, true},
        {"[::1]:3443", "::1", 3443, true},       {"[::]:1", "::", 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ListenAddress address;
        std::string error;
        ASSERT_TRUE(parseListenAddress(c.text, address, error)) << error;
        EXPECT_EQ(address.host, c.host);
        EXPECT_EQ(address.port, c.port);
        EXPECT_EQ(address.hostGiven, c.hostGiven);
    }
}

TEST(ListenAddress, RefusesWhatIsNotOne) {
    for (const char* text : {"", "x", "65536", "-1", "host:", ":3443", "::1:3443", "[::1]3443",
                             "[::1]:", "1.2.3.4:x", "1.2.3.4:3443:1"}) {
        SCOPED_TRACE(text);
        ListenAddress address;
        std::string error;
        EXPECT_FALSE(parseListenAddress(text, address, error));
        EXPECT_EQ(error, std::string("not a listening address: '") + text +
                             "' (expected [ADDR:]PORT, PORT 0 to 65535)");
    }
}

TEST(StreamUrl, ParsesTheTwoSchemes) {
    struct Case {
        const char* text;
        StreamKind kind;
        const char* host;
        uint16_t port;
    };
    const Case cases[] = {
        {"tcp://127.0.0.1:3443", StreamKind::Raw, "127.0.0.1", 3443},
        {"frames://[::1]:3402", StreamKind::Frames, "::1", 3402},
        {"tcp://probe-host:1", StreamKind::Raw, "probe-host", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_TRUE(isStreamUrl(c.text));
        StreamUrl url;
        std::string error;
        ASSERT_TRUE(parseStreamUrl(c.text, url, error)) << error;
        EXPECT_EQ(url.kind, c.kind);
        EXPECT_EQ(url.host, c.host);
        EXPECT_EQ(url.port, c.port);
        EXPECT_EQ(url.text, c.text);
    }
}

TEST(StreamUrl, RefusesWhatIsNotOne) {
    const std::pair<const char*, const char*> cases[] = {
        {"tcp://host", "not a stream address: 'tcp://host' (expected tcp://HOST:PORT)"},
        {"frames://:3402", "not a stream address: 'frames://:3402' (expected frames://HOST:PORT)"},
        {"udp://h:1",
         "not a stream address: 'udp://h:1' (expected tcp://HOST:PORT or frames://HOST:PORT)"},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text);
        StreamUrl url;
        std::string error;
        EXPECT_FALSE(parseStreamUrl(text, url, error));
        EXPECT_EQ(error, message);
    }
    EXPECT_FALSE(isStreamUrl("trace.rec"));
    EXPECT_FALSE(isStreamUrl("-"));
}

TEST(Address, LoopbackAndTheWarning) {
    for (const char* host : {"127.0.0.1", "127.1.2.3", "::1", "::ffff:127.0.0.1"}) {
        EXPECT_TRUE(isLoopbackAddress(host)) << host;
    }
    for (const char* host : {"0.0.0.0", "::", "192.168.1.2", "::ffff:10.0.0.1", "localhost"}) {
        EXPECT_FALSE(isLoopbackAddress(host)) << host;
    }
    EXPECT_EQ(joinHostPort("::", 3402), "[::]:3402");
    EXPECT_EQ(joinHostPort("10.0.0.1", 3443), "10.0.0.1:3443");
    EXPECT_EQ(unauthenticatedWarning("0.0.0.0:3443"),
              "warning: serving the trace on 0.0.0.0:3443: the stream is unauthenticated, anyone "
              "who can reach this address can read it");
}

}  // namespace
}  // namespace dravik::stream
