#include "dravik/swv/RecordingSink.h"

#include <unistd.h>

namespace dravik::swv {

RecordingSink::~RecordingSink() {
    if (!started_) {
        for (RecordingWriter* writer : {recording_.get(), plain_.get()}) {
            if (writer != nullptr) {
                writer->close();
                ::unlink(writer->path().c_str());
            }
        }
    }
}

bool RecordingSink::open(const std::string& recordingPath, const std::string& plainPath,
                         std::string& error) {
    if (!recordingPath.empty()) {
        recording_ =
            RecordingWriter::create(recordingPath, RecordingWriter::Kind::Recording, error);
        if (!recording_) {
            return false;
        }
    }
    if (!plainPath.empty()) {
        plain_ = RecordingWriter::create(plainPath, RecordingWriter::Kind::Plain, error);
        if (!plain_) {
            return false;
        }
    }
    return true;
}

template <typename Write>
bool RecordingSink::each(Write write) {
    if (failed_.load()) {
        return false;
    }
    for (RecordingWriter* writer : {recording_.get(), plain_.get()}) {
        if (writer != nullptr && !write(*writer)) {
            std::lock_guard<std::mutex> lock(errorMutex_);
            error_ = writer->error();
            failed_.store(true);
            return false;
        }
    }
    return true;
}

bool RecordingSink::start(const RecordingHeader& header) {
    started_ = true;
    return each([&](RecordingWriter& writer) { return writer.writeHeader(header); });
}

bool RecordingSink::finish(uint64_t timeUs) {
    each([&](RecordingWriter& writer) { return writer.writeEnd(timeUs); });
    // Closed even after a failed write, so that what was written stays.
    for (RecordingWriter* writer : {recording_.get(), plain_.get()}) {
        if (writer != nullptr && !writer->close() && !failed_.load()) {
            std::lock_guard<std::mutex> lock(errorMutex_);
            error_ = writer->error();
            failed_.store(true);
        }
    }
    return !failed_.load();
}

void RecordingSink::data(uint64_t timeUs, const uint8_t* bytes, size_t size) {
    each([&](RecordingWriter& writer) { return writer.writeData(timeUs, bytes, size); });
}

void RecordingSink::gap(uint64_t timeUs, GapCause cause) {
    // The library does not say how much it discarded.
    each([&](RecordingWriter& writer) { return writer.writeGap(timeUs, cause, 0); });
}

std::string RecordingSink::error() const {
    std::lock_guard<std::mutex> lock(errorMutex_);
    return error_;
}

}  // namespace dravik::swv
