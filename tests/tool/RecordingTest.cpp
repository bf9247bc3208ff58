#include <gtest/gtest.h>

#include <cstring>

#include "ToolTestSupport.h"
#include "dravik/swv/RecordingReader.h"
#include "dravik/swv/RecordingWriter.h"

namespace dravik::swv {
namespace {

using test::Bytes;
using test::TempDir;

RecordingSettings benchSettings() {
    RecordingSettings settings;
    settings.traceClockHz = 72000000;
    settings.prescaler = 36;
    settings.stimulusMask = 0x00000003;
    settings.txModeFlags = 1;
    settings.pinProtocol = 2;
    settings.itmTcr = 0x00000003;
    settings.startTimeUs = 0x0102030405060708;
    settings.serial = "DRAVIK-BENCH-0001";
    return settings;
}

std::unique_ptr<RecordingWriter> create(const std::string& path, RecordingWriter::Kind kind) {
    std::string error;
    auto writer = RecordingWriter::create(path, kind, error);
    EXPECT_NE(writer, nullptr) << error;
    return writer;
}

TEST(RecordingFormat, HeaderAndRecordsHaveTheDocumentedBytes) {
    TempDir dir;
    const std::string path = dir.path("trace.rec");
    auto writer = create(path, RecordingWriter::Kind::Recording);
    ASSERT_TRUE(writer->writeHeader(makeRecordingHeader(benchSettings())));
    ASSERT_TRUE(writer->writeData(0x1122, reinterpret_cast<const uint8_t*>("ab"), 2));
    ASSERT_TRUE(writer->writeGap(0x3344, GapCause::QueueFull, 4000));
    ASSERT_TRUE(writer->writeEnd(0x5566));
    ASSERT_TRUE(writer->close());

    Bytes expected = {0x89, 'D',  'S',  'W',  'V', '\r', '\n', 0x1A,  // magic
                      1,    0,                                        // version
                      96,   0,                                        // header size
                      0,    0,    0,    0,                            // flags
                      0x00, 0xA2, 0x4A, 0x04,                         // 72000000
                      36,   0,    0,    0,                            // prescaler
                      0x80, 0x84, 0x1E, 0x00,                         // 2000000
                      3,    0,    0,    0,                            // stimulus mask
                      1,    2,    0,    0,                            // NRZ allowed, NRZ used
                      3,    0,    0,    0,                            // ITM_TCR
                      8,    7,    6,    5,    4,   3,    2,    1};    // start time
    const char serial[] = "DRAVIK-BENCH-0001";
    expected.insert(expected.end(), serial, serial + 17);
    expected.resize(96, 0);
    const Bytes records = {1,   0, 0, 0, 2, 0,    0,    0, 0x22, 0x11, 0,    0, 0, 0, 0, 0, 'a',
                           'b', 2, 1, 0, 0, 0xA0, 0x0F, 0, 0,    0x44, 0x33, 0, 0, 0, 0, 0, 0,
                           3,   0, 0, 0, 0, 0,    0,    0, 0x66, 0x55, 0,    0, 0, 0, 0, 0};
    expected.insert(expected.end(), records.begin(), records.end());
    EXPECT_EQ(test::readBytes(path), expected);
    EXPECT_EQ(writer->bytesWritten(), expected.size());
}

TEST(RecordingFormat, ASerialNumberOfThirtyTwoCharactersFillsTheFieldUnterminated) {
    RecordingSettings settings = benchSettings();
    const std::string serial(40, 'S');
    settings.serial = serial.c_str();
    const RecordingHeader header = makeRecordingHeader(settings);
    EXPECT_EQ(std::string(header.serial, sizeof header.serial), std::string(32, 'S'));
    EXPECT_EQ(header.reserved1[0], 0);
}

TEST(RecordingFormat, TimestampClockFollowsTsPrescale) {
    EXPECT_DOUBLE_EQ(timestampClockHz(72000000, 0x00000003), 72000000.0);
    EXPECT_DOUBLE_EQ(timestampClockHz(72000000, 0x00000103), 18000000.0);
    EXPECT_DOUBLE_EQ(timestampClockHz(72000000, 0x00000203), 4500000.0);
    EXPECT_DOUBLE_EQ(timestampClockHz(64000000, 0x00000303), 1000000.0);
    EXPECT_DOUBLE_EQ(timestampClockHz(0, 0), 0.0);
}

TEST(RecordingWriter, PlainDumpHoldsTheDataBytesAlone) {
    TempDir dir;
    const std::string path = dir.path("trace.bin");
    auto writer = create(path, RecordingWriter::Kind::Plain);
    ASSERT_TRUE(writer->writeHeader(makeRecordingHeader(benchSettings())));
    ASSERT_TRUE(writer->writeData(1, reinterpret_cast<const uint8_t*>("xyz"), 3));
    ASSERT_TRUE(writer->writeGap(2, GapCause::ProbeDropped, 0));
    ASSERT_TRUE(writer->writeData(3, reinterpret_cast<const uint8_t*>("w"), 1));
    ASSERT_TRUE(writer->writeEnd(4));
    EXPECT_EQ(test::readFile(path), "xyzw");
}

TEST(RecordingWriter, ReportsAPathThatCannotBeCreated) {
    std::string error;
    EXPECT_EQ(
        RecordingWriter::create("/nonexistent-dir/x.rec", RecordingWriter::Kind::Recording, error),
        nullptr);
    EXPECT_EQ(error, "cannot create /nonexistent-dir/x.rec: No such file or directory");
}

TEST(RecordingWriter, EveryRecordIsInTheFileAsSoonAsItIsWritten) {
    TempDir dir;
    const std::string path = dir.path("trace.rec");
    auto writer = create(path, RecordingWriter::Kind::Recording);
    ASSERT_TRUE(writer->writeHeader(makeRecordingHeader(benchSettings())));
    ASSERT_TRUE(writer->writeData(7, reinterpret_cast<const uint8_t*>("abc"), 3));
    // Still open: nothing is held back in the process.
    EXPECT_EQ(test::readBytes(path).size(), 96u + 16u + 3u);
}

class RecordingReaderTest : public testing::Test {
  protected:
    std::vector<Record> readAll(const std::string& path, bool plain = false) {
        std::string error;
        EXPECT_TRUE(reader.open(path, plain, error)) << error;
        std::vector<Record> records;
        Record record;
        while ((last = reader.next(record)) == RecordingReader::Status::Record) {
            records.push_back(record);
        }
        return records;
    }

    TempDir dir;
    RecordingReader reader;
    RecordingReader::Status last = RecordingReader::Status::Record;
};

TEST_F(RecordingReaderTest, ReadsBackWhatTheWriterWrote) {
    const std::string path = dir.path("trace.rec");
    auto writer = create(path, RecordingWriter::Kind::Recording);
    writer->writeHeader(makeRecordingHeader(benchSettings()));
    writer->writeData(10, reinterpret_cast<const uint8_t*>("abc"), 3);
    writer->writeGap(20, GapCause::ReadFailure, 0);
    writer->writeGap(25, GapCause::QueueFull, 4096);
    writer->writeData(30, reinterpret_cast<const uint8_t*>("d"), 1);
    writer->writeEnd(40);
    writer->close();

    const std::vector<Record> records = readAll(path);
    EXPECT_EQ(last, RecordingReader::Status::End);
    EXPECT_FALSE(reader.plain());
    EXPECT_TRUE(reader.sawEnd());
    EXPECT_FALSE(reader.dataTruncated());
    EXPECT_EQ(reader.header().traceClockHz, 72000000u);
    EXPECT_EQ(reader.header().prescaler, 36u);
    EXPECT_EQ(std::string(reader.header().serial), "DRAVIK-BENCH-0001");
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].type, RecordType::Data);
    EXPECT_TRUE(records[0].timeKnown);
    EXPECT_EQ(records[0].timeUs, 10u);
    EXPECT_EQ(records[0].data, (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(records[1].type, RecordType::Gap);
    EXPECT_EQ(records[1].cause, GapCause::ReadFailure);
    EXPECT_EQ(records[1].lostBytes, 0u);
    EXPECT_EQ(records[2].cause, GapCause::QueueFull);
    EXPECT_EQ(records[2].lostBytes, 4096u);
    EXPECT_EQ(records[3].data, (Bytes{'d'}));
    EXPECT_EQ(records[4].type, RecordType::End);
    EXPECT_EQ(records[4].timeUs, 40u);
}

TEST_F(RecordingReaderTest, KeepsWhatACutShortRecordingHolds) {
    const std::string path = dir.path("cut.rec");
    auto writer = create(path, RecordingWriter::Kind::Recording);
    writer->writeHeader(makeRecordingHeader(benchSettings()));
    writer->writeData(10, reinterpret_cast<const uint8_t*>("abcdef"), 6);
    writer->close();
    Bytes bytes = test::readBytes(path);
    bytes.resize(bytes.size() - 2);  // the writer died inside the payload
    test::writeBytes(path, bytes);

    const std::vector<Record> records = readAll(path);
    EXPECT_EQ(last, RecordingReader::Status::End);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].data, (Bytes{'a', 'b', 'c', 'd'}));
    EXPECT_TRUE(reader.dataTruncated());
    EXPECT_FALSE(reader.sawEnd());
}

TEST_F(RecordingReaderTest, StopsAtARecordHeaderCutShort) {
    const std::string path = dir.path("cut.rec");
    auto writer = create(path, RecordingWriter::Kind::Recording);
    writer->writeHeader(makeRecordingHeader(benchSettings()));
    writer->writeData(10, reinterpret_cast<const uint8_t*>("ab"), 2);
    writer->close();
    Bytes bytes = test::readBytes(path);
    bytes.insert(bytes.end(), {1, 0, 0, 0, 5});
    test::writeBytes(path, bytes);

    const std::vector<Record> records = readAll(path);
    EXPECT_EQ(last, RecordingReader::Status::Truncated);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].data, (Bytes{'a', 'b'}));
}

TEST_F(RecordingReaderTest, ReadsAnyOtherFileAsAPlainDump) {
    const std::string path = dir.path("plain.bin");
    Bytes bytes(RecordingReader::kPlainChunkBytes + 10);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7);
    }
    test::writeBytes(path, bytes);

    const std::vector<Record> records = readAll(path);
    EXPECT_TRUE(reader.plain());
    EXPECT_EQ(last, RecordingReader::Status::End);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_FALSE(records[0].timeKnown);
    Bytes joined = records[0].data;
    joined.insert(joined.end(), records[1].data.begin(), records[1].data.end());
    EXPECT_EQ(joined, bytes);
}

TEST_F(RecordingReaderTest, ReadsARecordingAsPlainWhenTold) {
    const std::string path = dir.path("trace.rec");
    auto writer = create(path, RecordingWriter::Kind::Recording);
    writer->writeHeader(makeRecordingHeader(benchSettings()));
    writer->close();
    const std::vector<Record> records = readAll(path, true);
    EXPECT_TRUE(reader.plain());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].data.size(), 96u);
}

TEST_F(RecordingReaderTest, AFileShorterThanTheMagicIsPlain) {
    const std::string path = dir.path("short.bin");
    test::writeBytes(path, {0x89, 'D'});
    const std::vector<Record> records = readAll(path);
    EXPECT_TRUE(reader.plain());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].data, (Bytes{0x89, 'D'}));
}

TEST(RecordingReader, RefusesANewerVersionAndADamagedFile) {
    TempDir dir;
    const std::string path = dir.path("trace.rec");
    RecordingHeader header = makeRecordingHeader(benchSettings());
    header.version = 2;
    Bytes bytes(reinterpret_cast<uint8_t*>(&header), reinterpret_cast<uint8_t*>(&header + 1));
    test::writeBytes(path, bytes);
    std::string error;
    {
        RecordingReader reader;
        EXPECT_FALSE(reader.open(path, false, error));
        EXPECT_EQ(error, path + ": recording version 2 is newer than this tool reads (1)");
    }

    bytes.resize(50);  // magic, then a header cut short
    test::writeBytes(path, bytes);
    {
        RecordingReader reader;
        EXPECT_FALSE(reader.open(path, false, error));
        EXPECT_EQ(error, path + ": the recording header is cut short");
    }

    header.version = 1;
    bytes.assign(reinterpret_cast<uint8_t*>(&header), reinterpret_cast<uint8_t*>(&header + 1));
    bytes.insert(bytes.end(), {9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    test::writeBytes(path, bytes);
    RecordingReader reader;
    ASSERT_TRUE(reader.open(path, false, error));
    Record record;
    EXPECT_EQ(reader.next(record), RecordingReader::Status::Error);
    EXPECT_EQ(reader.error(), path + ": unknown record type 9");
}

TEST(RecordingReader, SkipsHeaderFieldsALaterRevisionAppends) {
    TempDir dir;
    const std::string path = dir.path("trace.rec");
    RecordingHeader header = makeRecordingHeader(benchSettings());
    header.headerSize = 100;
    Bytes bytes(reinterpret_cast<uint8_t*>(&header), reinterpret_cast<uint8_t*>(&header + 1));
    bytes.insert(bytes.end(), {0xAA, 0xBB, 0xCC, 0xDD});
    bytes.insert(bytes.end(), {3, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0});
    test::writeBytes(path, bytes);
    RecordingReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(path, false, error)) << error;
    Record record;
    ASSERT_EQ(reader.next(record), RecordingReader::Status::Record);
    EXPECT_EQ(record.type, RecordType::End);
    EXPECT_EQ(record.timeUs, 9u);
}

}  // namespace
}  // namespace dravik::swv
