#include "ToolTestSupport.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>

#include "DravikTrace.h"
#include "dravik/clock/TargetRegisters.h"
#include "dravik/swv/RecordingReader.h"
#include "dravik/swv/Tool.h"

namespace dravik::swv::test {

ItmStream& ItmStream::write(unsigned port, unsigned size, uint32_t value) {
    const unsigned code = size == 4 ? 3 : size;
    bytes_.push_back(static_cast<uint8_t>(((port & 31) << 3) | code));
    for (unsigned i = 0; i < size; ++i) {
        bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    return *this;
}

ItmStream& ItmStream::text(unsigned port, const std::string& text) {
    size_t at = 0;
    auto take = [&](unsigned n) {
        uint32_t value = 0;
        for (unsigned i = 0; i < n; ++i) {
            value |= uint32_t{static_cast<uint8_t>(text[at + i])} << (8 * i);
        }
        write(port, n, value);
        at += n;
    };
    while (text.size() - at >= 4) {
        take(4);
    }
    if (text.size() - at >= 2) {
        take(2);
    }
    if (text.size() - at == 1) {
        take(1);
    }
    return *this;
}

ItmStream& ItmStream::timestamp(unsigned delta) {
    bytes_.push_back(static_cast<uint8_t>((delta & 7) << 4));
    return *this;
}

ItmStream& ItmStream::localTimestamp(uint32_t delta) {
    if (delta >= 1 && delta <= 6) {
        return timestamp(delta);
    }
    bytes_.push_back(0xC0);
    do {
        const auto low = static_cast<uint8_t>(delta & 0x7F);
        delta >>= 7;
        bytes_.push_back(delta != 0 ? static_cast<uint8_t>(low | 0x80) : low);
    } while (delta != 0);
    return *this;
}

ItmStream& ItmStream::pcSample(uint32_t pc) {
    bytes_.push_back(0x17);
    for (unsigned i = 0; i < 4; ++i) {
        bytes_.push_back(static_cast<uint8_t>(pc >> (8 * i)));
    }
    return *this;
}

ItmStream& ItmStream::sleepSample() {
    return raw({0x15, 0x00});
}

ItmStream& ItmStream::exception(unsigned number, unsigned function) {
    return raw({0x0E, static_cast<uint8_t>(number),
                static_cast<uint8_t>(((number >> 8) & 1) | (function << 4))});
}

ItmStream& ItmStream::counterWrap(uint8_t counters) {
    return raw({0x05, counters});
}

ItmStream& ItmStream::overflow() {
    bytes_.push_back(0x70);
    return *this;
}

ItmStream& ItmStream::sync() {
    return raw({0, 0, 0, 0, 0, 0x80});
}

ItmStream& ItmStream::raw(const Bytes& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

int runToolWith(ToolEnvironment& env, std::vector<std::string> args) {
    args.insert(args.begin(), "dravik-swv");
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    return runTool(env, static_cast<int>(argv.size()), argv.data());
}

void expectBenchLines(const std::string& out) {
    // The stop may have cut the last line short ("line 282" of "line 2823"): it is not judged.
    const size_t lastLine = out.size() < 2 ? std::string::npos : out.rfind('\n', out.size() - 2);
    const std::string whole = out.substr(0, lastLine == std::string::npos ? 0 : lastLine + 1);
    std::vector<unsigned long> text;
    std::vector<unsigned long> counter;
    const std::regex line(R"((?:\[0\] line (\d+)|\[1\] 0x([0-9a-f]{8}))\n)");
    for (auto it = std::sregex_iterator(whole.begin(), whole.end(), line);
         it != std::sregex_iterator(); ++it) {
        if ((*it)[1].matched) {
            text.push_back(std::stoul((*it)[1].str()));
        } else {
            counter.push_back(std::stoul((*it)[2].str(), nullptr, 16));
        }
    }
    ASSERT_GE(text.size(), 3u) << out.substr(0, 400);
    ASSERT_GE(counter.size(), 3u) << out.substr(0, 400);
    for (const std::vector<unsigned long>* numbers : {&text, &counter}) {
        for (size_t i = 1; i < numbers->size(); ++i) {
            ASSERT_EQ((*numbers)[i], (*numbers)[i - 1] + 1) << "a line went missing";
        }
    }
    EXPECT_LE(text.front() > counter.front() ? text.front() - counter.front()
                                             : counter.front() - text.front(),
              1u);
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/dravik-swv-test-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
    }
    dir_ = name.data();
}

TempDir::~TempDir() {
    nftw(
        dir_.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Bytes readBytes(const std::string& path) {
    const std::string text = readFile(path);
    return Bytes(text.begin(), text.end());
}

void writeBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

Bytes recordedTrace(const std::string& path) {
    RecordingReader reader;
    std::string error;
    EXPECT_TRUE(reader.open(path, false, error)) << error;
    Bytes trace;
    Record record;
    while (reader.next(record) == RecordingReader::Status::Record) {
        trace.insert(trace.end(), record.data.begin(), record.data.end());
    }
    EXPECT_TRUE(reader.sawEnd()) << path << " was not finished";
    return trace;
}

// --- FakeTraceInterface ---

std::vector<std::string> FakeTraceInterface::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

size_t FakeTraceInterface::countCalls(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t count = 0;
    for (const std::string& call : calls_) {
        count += call.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    }
    return count;
}

void FakeTraceInterface::log(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
}

void FakeTraceInterface::begin(const std::string& call) {
    log(call);
    std::lock_guard<std::mutex> lock(mutex_);
    step_ = call.substr(0, call.find('(')) + " - Called";
    error_.clear();
    warning_.clear();
}

int FakeTraceInterface::enumerateDevices(char* list, int* listSize, int* deviceCount) {
    begin("DravikEnumerateDevices()");
    if (enumerateResult > 0) {
        error_ = enumerateError;
        return enumerateResult;
    }
    warning_ = enumerateWarning;
    const int size = static_cast<int>(listing.size());
    if (size + 1 < *listSize) {
        std::memcpy(list, listing.c_str(), listing.size() + 1);
        *listSize = size;
    }
    *deviceCount = 0;
    for (char c : listing) {
        *deviceCount += c == '\n' ? 1 : 0;
    }
    return enumerateResult;
}

int FakeTraceInterface::selectDevice(const char* serialNumber, unsigned int flags, int* status) {
    begin(std::string("DravikSelectDevice(") + serialNumber + ", " + std::to_string(flags) + ")");
    for (const std::string& text : selectDiagnostics) {
        if (logSink != nullptr) {
            logSink(logContext, text.c_str());
        }
    }
    if (selectResult != 0) {
        step_ = "Open Target";
        error_ = selectError;
        return selectResult;
    }
    *status = 1;
    step_ = "Read device status";
    return 0;
}

int FakeTraceInterface::runDevice(int* status) {
    begin("DravikRunDevice()");
    *status = 0;
    return runResult;
}

int FakeTraceInterface::blinkDebugger(const char* serialNumber) {
    begin(std::string("DravikBlinkDebugger(") + serialNumber + ")");
    return blinkResult;
}

int FakeTraceInterface::closeDevice() {
    begin("DravikCloseDevice()");
    return 0;
}

int FakeTraceInterface::setupDevice(int traceClock, int prescaler, int stimulusMask,
                                    int txModeFlags, int* fifoSize) {
    char call[128];
    std::snprintf(call, sizeof call, "DravikSetupDevice(%d, %d, 0x%08X, %d)", traceClock, prescaler,
                  static_cast<unsigned>(stimulusMask), txModeFlags);
    begin(call);
    if (setupResult != 0) {
        step_ = setupStep;
        error_ = setupError;
        return setupResult;
    }
    *fifoSize = setupFifoSize;
    step_ = "Starting SWV Trace Reception";
    return 0;
}

int FakeTraceInterface::stopSwvRead() {
    begin("DravikStopSWVRead()");
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    return stopResult;
}

int FakeTraceInterface::readSwvData(char* buffer, int offset, int* length) {
    begin("DravikReadSWVData(" + std::to_string(*length) + ")");
    std::optional<size_t> scripted;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stopped_ && !polls.empty()) {
            scripted = pollsAnswered_++;
        }
    }
    if (scripted && beforePoll) {
        beforePoll(*scripted);
    }
    SwvPoll poll;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopped_) {
            poll.bytes.swap(pendingAtStop);
        } else if (!polls.empty()) {
            poll = polls.front();
            polls.pop_front();
        }
    }
    if (poll.result != 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = poll.error;
        return poll.result;
    }
    if (static_cast<int>(poll.bytes.size()) > *length - offset) {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = "Buffer is too small, data is lost";
        return DRAVIK_REFUSED;
    }
    if (!poll.bytes.empty()) {
        std::memcpy(buffer + offset, poll.bytes.data(), poll.bytes.size());
    }
    *length = static_cast<int>(poll.bytes.size());
    return 0;
}

int FakeTraceInterface::readMemory(unsigned int address, unsigned char* buffer, unsigned short size,
                                   unsigned int* rwStatus) {
    char call[64];
    std::snprintf(call, sizeof call, "DravikReadMemory(0x%08X, %u)", address, size);
    begin(call);
    if (memoryResult != 0) {
        error_ = memoryError;
        return memoryResult;
    }
    for (unsigned i = 0; i < size; ++i) {
        const uint64_t at = uint64_t{address} + i - memoryBase;
        buffer[i] = at < memory.size() ? memory[at] : 0xEE;
    }
    if (rwStatus != nullptr) {
        *rwStatus = 0;
    }
    return 0;
}

int FakeTraceInterface::copyOut(const std::string& text, char* message, int* length) {
    if (text.empty()) {
        *length = 0;
        return DRAVIK_NO_MESSAGE;
    }
    const int n = static_cast<int>(text.size());
    if (n + 1 < *length) {
        std::memcpy(message, text.c_str(), text.size() + 1);
        *length = n;
        return 0;
    }
    std::memcpy(message, text.data(), static_cast<size_t>(*length));
    message[*length] = '\0';
    return -1;
}

int FakeTraceInterface::lastError(char* message, int* length) {
    log("DravikLastError()");
    std::lock_guard<std::mutex> lock(mutex_);
    return copyOut(error_, message, length);
}

int FakeTraceInterface::lastWarning(char* message, int* length) {
    log("DravikLastWarning()");
    std::lock_guard<std::mutex> lock(mutex_);
    return copyOut(warning_, message, length);
}

std::string FakeTraceInterface::currentStep() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return step_;
}

int FakeTraceInterface::readDebugRegister(unsigned int address, unsigned int* value) {
    char call[64];
    std::snprintf(call, sizeof call, "ReadDebugRegister(0x%08X)", address);
    log(call);
    if (failingRegisterReads.count(address) != 0) {
        return 26;
    }
    if (address == dravik::clock::reg::kDwtCyccnt && cycleCounter) {
        *value = cycleCounter();
        return 0;
    }
    const auto found = registers.find(address);
    *value = found == registers.end() ? 0 : found->second;
    return 0;
}

int FakeTraceInterface::writeDebugRegister(unsigned int address, unsigned int value) {
    char call[64];
    std::snprintf(call, sizeof call, "WriteDebugRegister(0x%08X, 0x%08X)", address, value);
    log(call);
    if (address == dravik::clock::reg::kDhcsr && !ignoreRegisterWrites) {
        // A halt request shows as S_HALT.
        registers[address] =
            (value & 0xFFFFu) | ((value & 2u) != 0 ? dravik::clock::reg::kDhcsrSHalt : 0);
    } else if (!ignoreRegisterWrites) {
        registers[address] = value;
    }
    return 0;
}

void FakeTraceInterface::setLogSink(LogSink sink, void* context) {
    log("SetLogSink()");
    logSink = sink;
    logContext = context;
}

const char* FakeTraceInterface::resultText(int code) const {
    return code == 26 ? "no probe found, or probe not open" : "some result";
}

}  // namespace dravik::swv::test
