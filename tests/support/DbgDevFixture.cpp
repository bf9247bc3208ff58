#include "DbgDevFixture.h"

#include <algorithm>
#include <cstdlib>

namespace dravik::test {

bool LogCapture::contains(const std::string& text) const {
    return std::find(lines_.begin(), lines_.end(), text) != lines_.end();
}

void LogCapture::Sink(void* context, const char* text) {
    static_cast<LogCapture*>(context)->lines_.emplace_back(text);
}

namespace {
bool (*g_fails)(size_t, size_t) = nullptr;

void* PickyCalloc(size_t count, size_t size) {
    return g_fails != nullptr && g_fails(count, size) ? nullptr : std::calloc(count, size);
}
}  // namespace

FailingAllocations::FailingAllocations(bool (*fails)(size_t count, size_t size)) {
    g_fails = fails;
    DbgDevTestPeer::SwapAllocator(PickyCalloc);
}

FailingAllocations::~FailingAllocations() {
    DbgDevTestPeer::SwapAllocator(nullptr);
    g_fails = nullptr;
}

void BenchTest::SetUp() {
    sim::bench().reset();
    sim::bench().clock.setManual(true);
}

void BenchTest::TearDown() {
    // An answer set up for an exchange that never came: the test did not check what it meant to.
    EXPECT_EQ("", sim::bench().describePendingScripts()) << "scripted answers no exchange used";
    dev_.reset();
    sim::bench().reset();
}

DbgDev& BenchTest::MakeDevice(TEnumDravikInterface iface) {
    dev_ = std::make_unique<DbgDev>(iface);
    log_.clear();
    log_.attach(*dev_);
    return *dev_;
}

DbgDev& BenchTest::OpenDevice(int index, TEnumDravikInterface iface) {
    DbgDev& dev = MakeDevice(iface);
    int count = 0;
    EXPECT_EQ(0, dev.EnumerateDevInterface(nullptr, &count, 0));
    if (iface == DRAVIK_TCP_INTERFACE) {
        TDeviceInfo2 info{};
        EXPECT_EQ(0, dev.GetDeviceInfo2(index, &info, sizeof info));
        const int r = dev.OpenDravik(nullptr, index, info.deviceId);
        EXPECT_TRUE(r == 0 || r == DBGDEV_FIRMWARE_NOT_LATEST) << r;
    } else {
        const int r = dev.OpenDravik(nullptr, index, 0u);
        EXPECT_TRUE(r == 0 || r == DBGDEV_FIRMWARE_NOT_LATEST) << r;
    }
    sim::bench().clearLog();
    log_.clear();
    return dev;
}

sim::SimProbe& BenchTest::UseProbe(const sim::ProbeConfig& config) {
    sim::bench().clear();
    sim::bench().clock.setManual(true);
    return sim::bench().probe(sim::bench().addProbe(config));
}

}  // namespace dravik::test
