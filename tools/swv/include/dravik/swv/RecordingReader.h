// Reads back a recording, or any other file as a plain dump of SWO bytes. A recording cut short
// (the writer killed mid-record) yields everything up to the cut, the partial last data record
// included.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dravik/swv/Recording.h"

namespace dravik::swv {

struct Record {
    RecordType type = RecordType::Data;
    GapCause cause = GapCause::None;
    uint64_t lostBytes = 0;     // gap records: bytes lost, 0 when not known
    bool timeKnown = false;     // false for plain dumps
    uint64_t timeUs = 0;        // host time since the start
    std::vector<uint8_t> data;  // data records
};

class RecordingReader {
  public:
    enum class Status {
        Record,     // `record` holds the next record
        End,        // no more records
        Truncated,  // the file ends inside a record header (the part is dropped)
        Error,      // error() says what went wrong
    };

    RecordingReader() = default;
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    // Opens path ("-": standard input). Without `forcePlain` a file that starts with the
    // recording magic is read as a recording (rejected when its version is newer or its header
    // malformed), anything else as a plain dump.
    bool open(const std::string& path, bool forcePlain, std::string& error);

    Status next(Record& record);

    bool plain() const { return plain_; }
    const RecordingHeader& header() const { return header_; }  // zero for a plain dump
    // An end record was read.
    bool sawEnd() const { return sawEnd_; }
    // The last data record was cut short by the end of the file.
    bool dataTruncated() const { return dataTruncated_; }
    const std::string& error() const { return error_; }
    // The file's name for messages ("standard input" for "-").
    const std::string& name() const { return path_; }

    // Bytes of a plain dump handed out per record.
    static constexpr size_t kPlainChunkBytes = 64 * 1024;
    // Longer data records are taken for damage: a capture writes one per poll of a few KiB.
    static constexpr uint32_t kMaxDataRecordBytes = 64u * 1024 * 1024;

  private:
    std::FILE* file_ = nullptr;
    bool plain_ = false;
    bool sawEnd_ = false;
    bool dataTruncated_ = false;
    RecordingHeader header_{};
    std::vector<uint8_t> lead_;  // a plain dump's first bytes, read while looking for the magic
    std::string path_;
    std::string error_;
};

}  // namespace dravik::swv
