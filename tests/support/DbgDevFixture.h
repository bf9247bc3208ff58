// Common test fixture: a fresh default bench on a manual clock, and a device object whose
// diagnostics are captured.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DbgDev.h"
#include "DbgDevTestPeer.h"
#include "DravikBench/Bench.h"
#include "TestProbe.h"

namespace dravik::test {

// Collects the texts a device object hands to LogTrace.
class LogCapture {
  public:
    void attach(DbgDev& dev) { dev.SetLogSink(&LogCapture::Sink, this); }
    const std::vector<std::string>& lines() const { return lines_; }
    bool contains(const std::string& text) const;
    std::string last() const { return lines_.empty() ? std::string() : lines_.back(); }
    void clear() { lines_.clear(); }

  private:
    static void Sink(void* context, const char* text);
    std::vector<std::string> lines_;
};

// Makes the library's heap allocations that `fails` picks (by count and size) come back null while
// it lives.
class FailingAllocations {
  public:
    explicit FailingAllocations(bool (*fails)(size_t count, size_t size));
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;
};

// A fresh default bench on a manual clock for every test; a scripted answer that no exchange took
// fails the test.
class BenchTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A device object on `iface` with its log captured.
    DbgDev& MakeDevice(TEnumDravikInterface iface = DRAVIK_USB_INTERFACE);
    // MakeDevice, then opens the bench's probe `index`; clears the wire log and the captured texts.
    DbgDev& OpenDevice(int index = 0, TEnumDravikInterface iface = DRAVIK_USB_INTERFACE);
    // Replaces the bench's probes with one probe of this configuration.
    sim::SimProbe& UseProbe(const sim::ProbeConfig& config);

    sim::Bench& bench() { return sim::bench(); }
    std::unique_ptr<DbgDev> dev_;
    LogCapture log_;
};

}  // namespace dravik::test
