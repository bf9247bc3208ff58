// The recordings of one capture (--raw, --raw-plain), fed by the draining thread before the display
// queue so that they hold every byte the library delivered whatever the display drops; a capture
// runs it behind a SinkThread, so that no poll waits for a file. A file that never got its header
// (the capture failed before trace started) is removed again rather than left empty.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "dravik/swv/DrainSink.h"
#include "dravik/swv/RecordingWriter.h"

namespace dravik::swv {

class RecordingSink final : public DrainSink {
  public:
    RecordingSink() = default;
    ~RecordingSink() override;
    RecordingSink(const RecordingSink&) = delete;
    RecordingSink& operator=(const RecordingSink&) = delete;

    // Creates the files (an empty path: none); false with `error`.
    bool open(const std::string& recordingPath, const std::string& plainPath, std::string& error);
    bool any() const { return recording_ != nullptr || plain_ != nullptr; }

    // Before the draining thread starts.
    bool start(const RecordingHeader& header);
    // After it ended: the end record, then the files are closed.
    bool finish(uint64_t timeUs);

    // DrainSink. After a failed write nothing more is written; failed() tells the capture.
    void data(uint64_t timeUs, const uint8_t* bytes, size_t size) override;
    void gap(uint64_t timeUs, GapCause cause) override;

    bool failed() const { return failed_.load(); }
    std::string error() const;

  private:
    template <typename Write>
    bool each(Write write);

    std::unique_ptr<RecordingWriter> recording_;
    std::unique_ptr<RecordingWriter> plain_;
    bool started_ = false;
    std::atomic<bool> failed_{false};
    mutable std::mutex errorMutex_;
    std::string error_;
};

}  // namespace dravik::swv
