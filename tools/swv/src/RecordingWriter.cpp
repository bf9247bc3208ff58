#include "dravik/swv/RecordingWriter.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace dravik::swv {

std::unique_ptr<RecordingWriter> RecordingWriter::create(const std::string& path, Kind kind,
                                                         std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<RecordingWriter>(new RecordingWriter(fd, kind, path));
}

RecordingWriter::RecordingWriter(int fd, Kind kind, std::string path)
    : fd_(fd), kind_(kind), path_(std::move(path)) {}

RecordingWriter::~RecordingWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool RecordingWriter::writeAll(const void* first, size_t firstSize, const void* second,
                               size_t secondSize) {
    if (fd_ < 0) {
        error_ = "write to a closed file";
        return false;
    }
    iovec parts[2] = {{const_cast<void*>(first), firstSize},
                      {const_cast<void*>(second), secondSize}};
    int count = secondSize == 0 ? 1 : 2;
    iovec* next = parts;
    while (count > 0) {
        const ssize_t written = ::writev(fd_, next, count);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            error_ = "cannot write " + path_ + ": " + std::strerror(errno);
            return false;
        }
        bytesWritten_ += static_cast<uint64_t>(written);
        // A short write: go on from where it stopped.
        size_t left = static_cast<size_t>(written);
        while (count > 0 && left >= next->iov_len) {
            left -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + left;
            next->iov_len -= left;
        }
    }
    return true;
}

bool RecordingWriter::writeRecord(RecordType type, GapCause cause, uint32_t length, uint64_t timeUs,
                                  const uint8_t* payload) {
    RecordHeader record{};
    record.type = static_cast<uint8_t>(type);
    record.cause = static_cast<uint8_t>(cause);
    record.length = length;
    record.timeUs = timeUs;
    return writeAll(&record, sizeof record, payload, payload == nullptr ? 0 : length);
}

bool RecordingWriter::writeHeader(const RecordingHeader& header) {
    if (kind_ == Kind::Plain) {
        return true;
    }
    return writeAll(&header, sizeof header, nullptr, 0);
}

bool RecordingWriter::writeData(uint64_t timeUs, const uint8_t* data, size_t size) {
    if (size == 0) {
        return true;
    }
    if (kind_ == Kind::Plain) {
        return writeAll(data, size, nullptr, 0);
    }
    // One poll never delivers anywhere near 4 GiB; split anyway rather than wrap the length.
    constexpr size_t kMaxRecord = std::numeric_limits<uint32_t>::max();
    while (size > 0) {
        const size_t part = size < kMaxRecord ? size : kMaxRecord;
        if (!writeRecord(RecordType::Data, GapCause::None, static_cast<uint32_t>(part), timeUs,
                         data)) {
            return false;
        }
        data += part;
        size -= part;
    }
    return true;
}

bool RecordingWriter::writeGap(uint64_t timeUs, GapCause cause, uint64_t lostBytes) {
    if (kind_ == Kind::Plain) {
        return true;
    }
    const uint32_t length = lostBytes > std::numeric_limits<uint32_t>::max()
                                ? std::numeric_limits<uint32_t>::max()
                                : static_cast<uint32_t>(lostBytes);
    return writeRecord(RecordType::Gap, cause, length, timeUs, nullptr);
}

bool RecordingWriter::writeEnd(uint64_t timeUs) {
    if (kind_ == Kind::Plain) {
        return true;
    }
    return writeRecord(RecordType::End, GapCause::None, 0, timeUs, nullptr);
}

bool RecordingWriter::close() {
    if (fd_ < 0) {
        return true;
    }
    const int result = ::close(fd_);
    fd_ = -1;
    if (result != 0) {
        error_ = "cannot close " + path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace dravik::swv
