// Runs a sink's calls on a thread of its own, in order, so that the draining thread never waits
// for a file: a write can block on a full disk cache, a slow or network file system, or a pipe
// whose reader is behind. Nothing is dropped: while the writer is behind the hand-over grows (a
// node of one read each, about 4 KiB); written nodes are reused, so in the steady state nothing
// is allocated. The two threads share no lock, and the writer is woken by a semaphore, whose post
// never blocks.
//
// A wake-up costs more CPU than writing a poll's bytes, so while trace flows the writer takes what
// gathered every kGatherMs (or at kWakeBatch calls) instead of once a poll; once it finds nothing
// it sleeps until the next call.
#pragma once

#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "dravik/swv/DrainSink.h"

namespace dravik::swv {

class SinkThread final : public DrainSink {
  public:
    // Calls reach `target` on the writer thread, from start() until finish() returns.
    explicit SinkThread(DrainSink& target);
    ~SinkThread() override;
    SinkThread(const SinkThread&) = delete;
    SinkThread& operator=(const SinkThread&) = delete;

    void start();
    // Once the caller of data() and gap() is done: returns when the target has had every call.
    void finish();

    // DrainSink, on one thread at a time (the draining thread).
    void data(uint64_t timeUs, const uint8_t* bytes, size_t size) override;
    void gap(uint64_t timeUs, GapCause cause) override;

    // The most calls that waited for the writer at one time (of the producer's view).
    size_t mostWaiting() const { return mostWaiting_; }

    static constexpr unsigned kGatherMs = 10;
    static constexpr size_t kWakeBatch = 64;

  private:
    struct Node {
        std::atomic<Node*> next{nullptr};
        bool isGap = false;
        GapCause cause = GapCause::ReadFailure;
        uint64_t timeUs = 0;
        std::vector<uint8_t> bytes;
    };

    Node* takeNode();
    void hand(Node* node);
    size_t writeAll();
    void run();

    DrainSink& target_;
    std::thread writer_;
    sem_t wake_;
    std::atomic<bool> finishing_{false};
    std::atomic<bool> idle_{false};  // the writer sleeps until it is posted
    // The list runs from first_ (oldest node, the producer's to reuse) through head_ (the last
    // one the writer took) to tail_ (the last one handed over).
    Node* first_;
    Node* reusableEnd_;               // producer: nodes before this one are free to reuse
    Node* tail_;                      // producer
    std::atomic<Node*> head_;         // writer
    std::atomic<size_t> written_{0};  // writer: calls passed on
    size_t handed_ = 0;               // producer: calls handed over
    size_t mostWaiting_ = 0;
};

}  // namespace dravik::swv
