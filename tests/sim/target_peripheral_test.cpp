// Peripherals on the private bus: address routing ahead of the SCS and memory, word-only access,
// and the piecewise-constant activity they are told about.

#include <array>
#include <map>
#include <ostream>
#include <vector>

#include "target_fixture.h"

namespace dravik::sim::testing {
namespace {

struct Event {
    enum Kind { Advance, Changed, PowerOn, Read, Write } kind;
    uint64_t nowUs;
    bool running = false;
    bool sleeping = false;
    bool trcena = false;
    uint32_t address = 0;

    bool operator==(const Event& o) const {
        return kind == o.kind && nowUs == o.nowUs && running == o.running &&
               sleeping == o.sleeping && trcena == o.trcena && address == o.address;
    }
};

std::ostream& operator<<(std::ostream& os, const Event& e) {
    static const char* const names[] = {"advance", "changed", "powerOn", "read", "write"};
    return os << names[e.kind] << "@" << e.nowUs << " run=" << e.running << " sleep=" << e.sleeping
              << " trc=" << e.trcena << " addr=0x" << std::hex << e.address << std::dec;
}

Event span(Event::Kind kind, uint64_t t, bool running, bool trcena = false, bool sleeping = false) {
    Event e{kind, t};
    e.running = running;
    e.sleeping = sleeping;
    e.trcena = trcena;
    return e;
}

Event access(Event::Kind kind, uint64_t t, uint32_t address) {
    Event e{kind, t};
    e.address = address;
    return e;
}

class FakePeripheral : public Peripheral {
  public:
    FakePeripheral(uint32_t base, uint32_t size) : base_(base), size_(size) {}

    bool claims(uint32_t address) const override {
        return address >= base_ && address - base_ < size_;
    }
    bool read32(uint32_t address, uint32_t& value, uint64_t nowUs) override {
        events.push_back(access(Event::Read, nowUs, address));
        if (address == faulting) {
            return false;
        }
        value = registers[address];
        return true;
    }
    bool write32(uint32_t address, uint32_t value, uint64_t nowUs) override {
        events.push_back(access(Event::Write, nowUs, address));
        if (address == faulting) {
            return false;
        }
        registers[address] = value;
        return true;
    }
    void advance(uint64_t nowUs, const CoreActivity& a) override {
        events.push_back(span(Event::Advance, nowUs, a.running, a.trcena, a.sleeping));
    }
    void activityChanged(uint64_t nowUs, const CoreActivity& a) override {
        events.push_back(span(Event::Changed, nowUs, a.running, a.trcena, a.sleeping));
    }
    void powerOnReset(uint64_t nowUs) override { events.push_back(Event{Event::PowerOn, nowUs}); }

    std::vector<Event> events;
    std::map<uint32_t, uint32_t> registers;
    uint32_t faulting = 0xFFFFFFFF;

  private:
    uint32_t base_;
    uint32_t size_;
};

TEST(TargetPeripheral, ClaimedAddressesGoToThePeripheralFirst) {
    CortexM core;
    FakePeripheral itm(0xE0000000, 0x1000);
    FakePeripheral overCpuid(reg::kCpuid, 4);
    FakePeripheral overSram(silicon::kSramBase + 0x10, 4);
    core.attach(itm);
    core.attach(overCpuid);
    core.attach(overSram);
    itm.registers[0xE0000E80] = 0x00010005;
    overCpuid.registers[reg::kCpuid] = 0x12345678;
    overSram.registers[silicon::kSramBase + 0x10] = 0x0BADF00D;

    uint32_t v = 0;
    ASSERT_EQ(core.read(0xE0000E80, AccessSize::Word, v, 5), BusStatus::Ok);
    EXPECT_EQ(v, 0x00010005u);
    ASSERT_EQ(core.read(reg::kCpuid, AccessSize::Word, v, 6), BusStatus::Ok);
    EXPECT_EQ(v, 0x12345678u);
    ASSERT_EQ(core.read(silicon::kSramBase + 0x10, AccessSize::Word, v, 7), BusStatus::Ok);
    EXPECT_EQ(v, 0x0BADF00Du);
    ASSERT_EQ(core.write(0xE0000000, AccessSize::Word, 0x41, 8), BusStatus::Ok);
    EXPECT_EQ(itm.registers[0xE0000000], 0x41u);

    const std::vector<Event> expected = {
        span(Event::Advance, 5, true), access(Event::Read, 5, 0xE0000E80),
        span(Event::Advance, 6, true), span(Event::Advance, 7, true),
        span(Event::Advance, 8, true), access(Event::Write, 8, 0xE0000000)};
    EXPECT_EQ(itm.events, expected);
}

TEST(TargetPeripheral, SubWordAccessesFaultWithoutReachingIt) {
    CortexM core;
    FakePeripheral itm(0xE0000000, 0x1000);
    core.attach(itm);
    uint32_t v = 0;
    EXPECT_EQ(core.write(0xE0000000, AccessSize::Byte, 0x41, 0), BusStatus::Fault);
    EXPECT_EQ(core.write(0xE0000002, AccessSize::HalfWord, 0x41, 0), BusStatus::Fault);
    EXPECT_EQ(core.read(0xE0000001, AccessSize::Byte, v, 0), BusStatus::Fault);
    EXPECT_EQ(core.read(0xE0000002, AccessSize::Word, v, 0), BusStatus::Fault);
    EXPECT_TRUE(itm.events.empty());
}

TEST(TargetPeripheral, ItsRefusalIsABusFault) {
    CortexM core;
    FakePeripheral tpiu(0xE0040000, 0x1000);
    tpiu.faulting = 0xE0040FB0;
    core.attach(tpiu);
    EXPECT_EQ(core.write(0xE0040FB0, AccessSize::Word, 0xC5ACCE55, 0), BusStatus::Fault);
    std::array<uint8_t, 8> out{};
    const BlockTransfer t = core.readBlock(0xE0040FAC, out.data(), 8, AccessSize::Word, 0);
    EXPECT_EQ(t.status, BusStatus::Fault);
    EXPECT_EQ(t.bytesDone, 4u);
}

TEST(TargetPeripheral, SeesPiecewiseConstantActivity) {
    TargetConfig config;
    config.resetDurationUs = 100;
    CortexM core(config);
    FakePeripheral itm(0xE0000000, 0x1000);
    core.attach(itm);
    core.attach(itm);  // attaching twice changes nothing

    core.advanceTo(10);
    core.advanceTo(10);  // no time passed: nothing to tell
    ASSERT_EQ(core.write(reg::kDemcr, AccessSize::Word, reg::demcr::kTrcena, 20), BusStatus::Ok);
    ASSERT_EQ(core.write(reg::kDhcsr, AccessSize::Word, kDhcsrHalt, 30), BusStatus::Ok);
    core.advanceTo(40);
    ASSERT_EQ(core.write(reg::kAircr, AccessSize::Word, kAircrSysReset, 50), BusStatus::Ok);
    core.advanceTo(200);

    const std::vector<Event> expected = {
        span(Event::Advance, 10, true),
        span(Event::Advance, 20, true),
        span(Event::Changed, 20, true, true),
        span(Event::Advance, 30, true, true),
        span(Event::Changed, 30, false, true),
        span(Event::Advance, 40, false, true),
        span(Event::Advance, 50, false, true),
        // In reset from 50 to 150; the halt request survives, so the core leaves reset halted.
        span(Event::Advance, 150, false, true),
        span(Event::Advance, 200, false, true),
    };
    EXPECT_EQ(itm.events, expected);
}

TEST(TargetPeripheral, IsToldWhenTheCoreLeavesResetRunningOrSleeping) {
    TargetConfig config;
    config.resetDurationUs = 100;
    config.scenario.idlesInWfi = true;
    CortexM core(config);
    FakePeripheral itm(0xE0000000, 0x1000);
    core.attach(itm);

    core.setResetLine(true, 10);
    core.setResetLine(false, 20);
    core.advanceTo(300);
    core.powerOnReset(400);
    core.advanceTo(600);

    const std::vector<Event> expected = {
        span(Event::Advance, 10, true, false, true),
        span(Event::Changed, 10, false),
        span(Event::Advance, 20, false),
        span(Event::Advance, 120, false),
        span(Event::Changed, 120, true, false, true),
        span(Event::Advance, 300, true, false, true),
        span(Event::Advance, 400, true, false, true),
        Event{Event::PowerOn, 400},
        span(Event::Changed, 400, false),
        span(Event::Advance, 500, false),
        span(Event::Changed, 500, true, false, true),
        span(Event::Advance, 600, true, false, true),
    };
    EXPECT_EQ(itm.events, expected);
}

}  // namespace
}  // namespace dravik::sim::testing
