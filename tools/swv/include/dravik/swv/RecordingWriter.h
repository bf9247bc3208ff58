// Writes a recording, or a plain dump of the bytes, straight to the file descriptor: each record
// is one write() with nothing held back in the process, so whatever was handed over survives a
// capture cut short by a signal, an unplugged probe or a crashed target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "dravik/swv/Recording.h"

namespace dravik::swv {

class RecordingWriter {
  public:
    enum class Kind { Recording, Plain };

    // Creates (or truncates) path. nullptr with `error` set when it cannot be opened.
    static std::unique_ptr<RecordingWriter> create(const std::string& path, Kind kind,
                                                   std::string& error);
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Each returns false with error() set when the write fails; a plain dump ignores everything
    // but the data bytes.
    bool writeHeader(const RecordingHeader& header);
    bool writeData(uint64_t timeUs, const uint8_t* data, size_t size);
    bool writeGap(uint64_t timeUs, GapCause cause, uint64_t lostBytes);
    bool writeEnd(uint64_t timeUs);
    // Closes the file; false when the last write-back failed.
    bool close();

    Kind kind() const { return kind_; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }
    uint64_t bytesWritten() const { return bytesWritten_; }

  private:
    RecordingWriter(int fd, Kind kind, std::string path);
    bool writeAll(const void* first, size_t firstSize, const void* second, size_t secondSize);
    bool writeRecord(RecordType type, GapCause cause, uint32_t length, uint64_t timeUs,
                     const uint8_t* payload);

    int fd_;
    Kind kind_;
    std::string path_;
    std::string error_;
    uint64_t bytesWritten_ = 0;
};

}  // namespace dravik::swv
