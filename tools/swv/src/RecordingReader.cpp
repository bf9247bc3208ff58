#include "dravik/swv/RecordingReader.h"

#include <cerrno>
#include <cstring>

namespace dravik::swv {

RecordingReader::~RecordingReader() {
    if (file_ != nullptr && file_ != stdin) {
        std::fclose(file_);
    }
}

bool RecordingReader::open(const std::string& path, bool forcePlain, std::string& error) {
    if (path == "-") {
        path_ = "standard input";
        file_ = stdin;
    } else {
        path_ = path;
        file_ = std::fopen(path.c_str(), "rb");
    }
    if (file_ == nullptr) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    uint8_t magic[sizeof kRecordingMagic] = {};
    const size_t got = std::fread(magic, 1, sizeof magic, file_);
    if (forcePlain || got != sizeof magic || std::memcmp(magic, kRecordingMagic, got) != 0) {
        // Not rewound: standard input cannot be. The bytes read so far lead the first chunk.
        plain_ = true;
        lead_.assign(magic, magic + got);
        return true;
    }
    std::memcpy(&header_, magic, sizeof magic);
    const size_t rest = sizeof header_ - sizeof magic;
    if (std::fread(reinterpret_cast<uint8_t*>(&header_) + sizeof magic, 1, rest, file_) != rest) {
        error = path_ + ": the recording header is cut short";
        return false;
    }
    if (header_.version > kRecordingVersion) {
        error = path_ + ": recording version " + std::to_string(header_.version) +
                " is newer than this tool reads (" + std::to_string(kRecordingVersion) + ")";
        return false;
    }
    if (header_.version == 0 || header_.headerSize < sizeof header_) {
        error = path_ + ": not a valid recording header";
        return false;
    }
    // A later minor revision may append header fields; records start after all of them. They
    // are read past rather than sought over, so that a pipe works too.
    for (size_t skip = header_.headerSize - sizeof header_; skip > 0; --skip) {
        if (std::fgetc(file_) == EOF) {
            error = path_ + ": the recording header is cut short";
            return false;
        }
    }
    return true;
}

RecordingReader::Status RecordingReader::next(Record& record) {
    if (file_ == nullptr) {
        error_ = "no recording open";
        return Status::Error;
    }
    record = Record{};
    if (plain_) {
        record.data.resize(kPlainChunkBytes);
        const size_t lead = lead_.size();
        std::memcpy(record.data.data(), lead_.data(), lead);
        lead_.clear();
        const size_t got =
            lead + std::fread(record.data.data() + lead, 1, record.data.size() - lead, file_);
        if (std::ferror(file_)) {
            error_ = "cannot read " + path_ + ": " + std::strerror(errno);
            return Status::Error;
        }
        if (got == 0) {
            return Status::End;
        }
        record.data.resize(got);
        return Status::Record;
    }

    RecordHeader raw{};
    const size_t got = std::fread(&raw, 1, sizeof raw, file_);
    if (got == 0 && std::feof(file_)) {
        return Status::End;
    }
    if (got != sizeof raw) {
        if (std::ferror(file_)) {
            error_ = "cannot read " + path_ + ": " + std::strerror(errno);
            return Status::Error;
        }
        return Status::Truncated;
    }
    record.timeKnown = true;
    record.timeUs = raw.timeUs;
    switch (static_cast<RecordType>(raw.type)) {
        case RecordType::Data: {
            record.type = RecordType::Data;
            if (raw.length > kMaxDataRecordBytes) {
                error_ = path_ + ": a data record of " + std::to_string(raw.length) +
                         " bytes; the file is damaged";
                return Status::Error;
            }
            record.data.resize(raw.length);
            const size_t payload = std::fread(record.data.data(), 1, raw.length, file_);
            if (payload != raw.length) {
                if (std::ferror(file_)) {
                    error_ = "cannot read " + path_ + ": " + std::strerror(errno);
                    return Status::Error;
                }
                dataTruncated_ = true;
                record.data.resize(payload);
            }
            return Status::Record;
        }
        case RecordType::Gap:
            record.type = RecordType::Gap;
            record.cause = static_cast<GapCause>(raw.cause);
            record.lostBytes = raw.length;
            return Status::Record;
        case RecordType::End:
            record.type = RecordType::End;
            sawEnd_ = true;
            return Status::Record;
    }
    error_ = path_ + ": unknown record type " + std::to_string(raw.type);
    return Status::Error;
}

}  // namespace dravik::swv
