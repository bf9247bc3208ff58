#include "dravik/swv/SinkThread.h"

#include <time.h>

#include <algorithm>
#include <cerrno>

#include "dravik/swv/TraceDrain.h"

namespace dravik::swv {

SinkThread::SinkThread(DrainSink& target) : target_(target) {
    // The list always holds one node: the writer's place.
    first_ = reusableEnd_ = tail_ = new Node;
    head_.store(first_);
    ::sem_init(&wake_, 0, 0);
}

SinkThread::~SinkThread() {
    finish();
    for (Node* node = first_; node != nullptr;) {
        Node* next = node->next.load();
        delete node;
        node = next;
    }
    ::sem_destroy(&wake_);
}

void SinkThread::start() {
    if (!writer_.joinable()) {
        finishing_.store(false);
        writer_ = std::thread([this] { run(); });
    }
}

void SinkThread::finish() {
    if (!writer_.joinable()) {
        return;
    }
    finishing_.store(true, std::memory_order_release);
    ::sem_post(&wake_);
    writer_.join();
}

SinkThread::Node* SinkThread::takeNode() {
    if (first_ == reusableEnd_) {
        reusableEnd_ = head_.load(std::memory_order_acquire);
    }
    if (first_ != reusableEnd_) {
        Node* node = first_;
        first_ = first_->next.load(std::memory_order_relaxed);
        node->next.store(nullptr, std::memory_order_relaxed);
        return node;
    }
    Node* node = new Node;
    node->bytes.reserve(TraceDrain::kReadBufferBytes);
    return node;
}

void SinkThread::hand(Node* node) {
    // Sequentially consistent with the writer's idle_ store and list check: one of the two sees
    // the other, so a node never waits for a writer that went to sleep without seeing it.
    tail_->next.store(node, std::memory_order_seq_cst);
    tail_ = node;
    ++handed_;
    const size_t waiting = handed_ - written_.load(std::memory_order_relaxed);
    mostWaiting_ = std::max(mostWaiting_, waiting);
    if (idle_.load(std::memory_order_seq_cst) || waiting >= kWakeBatch) {
        ::sem_post(&wake_);
    }
}

void SinkThread::data(uint64_t timeUs, const uint8_t* bytes, size_t size) {
    Node* node = takeNode();
    node->isGap = false;
    node->timeUs = timeUs;
    node->bytes.assign(bytes, bytes + size);
    hand(node);
}

void SinkThread::gap(uint64_t timeUs, GapCause cause) {
    Node* node = takeNode();
    node->isGap = true;
    node->cause = cause;
    node->timeUs = timeUs;
    node->bytes.clear();
    hand(node);
}

// Passes on everything handed over so far; returns how many calls that was.
size_t SinkThread::writeAll() {
    size_t count = 0;
    Node* head = head_.load(std::memory_order_relaxed);
    while (Node* next = head->next.load(std::memory_order_seq_cst)) {
        if (next->isGap) {
            target_.gap(next->timeUs, next->cause);
        } else {
            target_.data(next->timeUs, next->bytes.data(), next->bytes.size());
        }
        // The node before becomes the producer's to reuse; `next` is the writer's place now.
        head_.store(next, std::memory_order_release);
        written_.fetch_add(1, std::memory_order_relaxed);
        head = next;
        ++count;
    }
    return count;
}

void SinkThread::run() {
    while (true) {
        // Read before the list: what was handed over before the finish is written below.
        const bool finishing = finishing_.load(std::memory_order_acquire);
        const size_t written = writeAll();
        if (finishing) {
            return;
        }
        if (written != 0) {
            // Trace flows: let the next calls gather (a post cuts it short at kWakeBatch).
            timespec until{};
            ::clock_gettime(CLOCK_MONOTONIC, &until);
            until.tv_nsec += static_cast<long>(kGatherMs) * 1000000;
            if (until.tv_nsec >= 1000000000) {
                until.tv_nsec -= 1000000000;
                ++until.tv_sec;
            }
            ::sem_clockwait(&wake_, CLOCK_MONOTONIC, &until);
            continue;
        }
        // Nothing came while gathering: sleep until the next call or the finish.
        idle_.store(true, std::memory_order_seq_cst);
        if (head_.load(std::memory_order_relaxed)->next.load(std::memory_order_seq_cst) ==
                nullptr &&
            !finishing_.load(std::memory_order_acquire)) {
            while (::sem_wait(&wake_) != 0 && errno == EINTR) {
            }
        }
        idle_.store(false, std::memory_order_seq_cst);
    }
}

}  // namespace dravik::swv
