#include "WireExpect.h"

#include <cstdio>
#include <string>

namespace dravik::test {

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char b[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += b;
    }
    return text;
}

std::string Describe(const ExpectedCommand& e) {
    std::vector<uint8_t> cdb = e.cdb;
    cdb.resize(16, 0);
    char head[64];
    std::snprintf(head, sizeof head, "len=%u dir=%u bytes=%u", e.cdbLength, e.direction, e.length);
    std::string text = std::string("cdb=[") + Hex(cdb) + "] " + head;
    if (e.sent) {
        text += " sent=" + Hex(*e.sent);
    }
    return text;
}

std::string Describe(const sim::WireEntry& w) {
    std::vector<uint8_t> cdb(w.cdb.begin(), w.cdb.end());
    char head[64];
    std::snprintf(head, sizeof head, "len=%u dir=%u bytes=%u", w.cdbLength, w.direction,
                  w.bufferLength);
    std::string text = std::string("cdb=[") + Hex(cdb) + "] " + head;
    if (w.direction == 0) {
        text += " sent=" + Hex(w.sent);
    }
    return text;
}

bool Matches(const ExpectedCommand& e, const sim::WireEntry& w) {
    std::vector<uint8_t> cdb = e.cdb;
    cdb.resize(16, 0);
    if (!std::equal(cdb.begin(), cdb.end(), w.cdb.begin())) {
        return false;
    }
    if (e.cdbLength != w.cdbLength || e.direction != w.direction || e.length != w.bufferLength) {
        return false;
    }
    if (e.length == 0 && !w.nullBuffer) {
        return false;  // a command without a data phase carries no buffer
    }
    return !e.sent || *e.sent == w.sent;
}

}  // namespace

ExpectedCommand In(std::initializer_list<uint8_t> cdb, uint32_t length, uint8_t cdbLength) {
    ExpectedCommand e;
    e.cdb = cdb;
    e.length = length;
    e.cdbLength = cdbLength;
    return e;
}

ExpectedCommand Out(std::initializer_list<uint8_t> cdb, std::vector<uint8_t> data) {
    ExpectedCommand e;
    e.cdb = cdb;
    e.direction = 0;
    e.length = static_cast<uint32_t>(data.size());
    e.sent = std::move(data);
    return e;
}

ExpectedCommand Trace(uint32_t length) {
    ExpectedCommand e;
    e.cdbLength = 0;
    e.direction = 3;
    e.length = length;
    return e;
}

::testing::AssertionResult SendsAre(const std::vector<sim::WireEntry>& log,
                                    const std::vector<ExpectedCommand>& expected) {
    std::vector<const sim::WireEntry*> sends;
    for (const auto& w : log) {
        if (w.isSend()) {
            sends.push_back(&w);
        }
    }
    std::string report;
    bool ok = sends.size() == expected.size();
    const size_t n = std::max(sends.size(), expected.size());
    for (size_t i = 0; i < n; ++i) {
        const bool have = i < sends.size(), want = i < expected.size();
        const bool same = have && want && Matches(expected[i], *sends[i]);
        ok = ok && same;
        report += same ? "   " : ">> ";
        report += "#" + std::to_string(i) +
                  " expected: " + (want ? Describe(expected[i]) : std::string("(nothing)")) + "\n";
        report +=
            "      got:      " + (have ? Describe(*sends[i]) : std::string("(nothing)")) + "\n";
    }
    if (ok) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "wire log differs:\n" << report;
}

::testing::AssertionResult SentExactly(const std::vector<ExpectedCommand>& expected) {
    return SendsAre(sim::bench().log(), expected);
}

::testing::AssertionResult RecordsWellFormed(const std::vector<sim::WireEntry>& log) {
    for (const auto& w : log) {
        if (w.isSend() && (w.senseLength != 14 || w.timeoutMs != 5000)) {
            return ::testing::AssertionFailure()
                   << "record with sense length " << unsigned(w.senseLength) << " and time-out "
                   << w.timeoutMs << ": " << w.describe();
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace dravik::test
