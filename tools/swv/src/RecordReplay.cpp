#include "dravik/swv/RecordReplay.h"

#include <algorithm>

#include "dravik/swv/Recording.h"

namespace dravik::swv {

bool openRecording(ToolEnvironment& env, const std::string& path, uint32_t clockHz,
                   RecordingReader& reader, double& timestampHz) {
    std::string error;
    if (!reader.open(path, false, error)) {
        env.message("dravik-swv: " + error + "\n");
        return false;
    }
    const RecordingHeader& header = reader.header();
    timestampHz = 0;
    if (clockHz != 0) {
        timestampHz = timestampClockHz(clockHz, reader.plain() ? 0 : header.itmTcr);
    } else if (!reader.plain() && header.traceClockHz != 0) {
        timestampHz = timestampClockHz(header.traceClockHz, header.itmTcr);
    }
    return true;
}

ReplayEnd replayRecords(ToolEnvironment& env, RecordingReader& reader,
                        const std::function<bool(const Record&)>& take) {
    ReplayEnd end;
    Record record;
    while (true) {
        if (env.stopRequested()) {
            end.stopped = true;
            break;
        }
        const RecordingReader::Status next = reader.next(record);
        if (next == RecordingReader::Status::End) {
            break;
        }
        if (next == RecordingReader::Status::Truncated) {
            env.message("dravik-swv: " + reader.name() + " ends inside a record header\n");
            break;
        }
        if (next == RecordingReader::Status::Error) {
            env.message("dravik-swv: " + reader.error() + "\n");
            end.status = kExitFailure;
            return end;
        }
        if (record.timeKnown) {
            end.lastTimeUs = std::max(end.lastTimeUs, record.timeUs);
        }
        if (record.type != RecordType::End && !take(record)) {
            end.stopped = true;
            return end;
        }
    }
    if (reader.dataTruncated()) {
        env.message("dravik-swv: the last data record of " + reader.name() +
                    " is cut short; used what is there\n");
    }
    if (!reader.plain() && !reader.sawEnd() && !end.stopped) {
        env.message("dravik-swv: " + reader.name() +
                    " has no end record: the capture was cut short\n");
    }
    return end;
}

}  // namespace dravik::swv
