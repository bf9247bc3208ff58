// Reading a recording through, for the commands that turn one into something else than the
// ports' output (top, the exception timeline): opening it with its timestamp clock, and the loop
// over its records with what is said about one cut short.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "dravik/swv/Commands.h"
#include "dravik/swv/RecordingReader.h"

namespace dravik::swv {

// Opens path ("-": standard input); false after saying why. timestampHz: the ITM timestamp
// clock, from clockHz when given (a plain dump has no other), else from the recording's header;
// 0 when not known.
bool openRecording(ToolEnvironment& env, const std::string& path, uint32_t clockHz,
                   RecordingReader& reader, double& timestampHz);

struct ReplayEnd {
    int status = kExitOk;     // kExitFailure after a read error, said on env.err
    bool stopped = false;     // `take` returned false, or a stop was requested
    uint64_t lastTimeUs = 0;  // the latest host time of a record
};

// Hands every data and gap record to `take`, in order, until the end of the recording, a stop
// request, or `take` returning false. Says on env.err when the recording ends inside a record
// or lacks its end record.
ReplayEnd replayRecords(ToolEnvironment& env, RecordingReader& reader,
                        const std::function<bool(const Record&)>& take);

}  // namespace dravik::swv
