#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "logging/RecordingFile.h"
#include "logging/WriteVelmarFileII.h"
#include "tests/logging/RecordingTestSupport.h"

namespace rv8 {
namespace {

using testing::FileBytes;
using testing::OpenLikeWindow;
using testing::TestBlock;
using testing::WriteLikeWindow;

uint64_t Le(const std::vector<uint8_t>& b, std::size_t off, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | b.at(off + i);
    return v;
}

double LeF64(const std::vector<uint8_t>& b, std::size_t off) {
    return std::bit_cast<double>(Le(b, off, 8));
}

class ReaderTest : public ::testing::Test {
  protected:
    // A file of `records` records of `frames` frames, written as the window writes.
    std::vector<uint8_t> MakeFile(int records, int frames) {
        const QString name = dir_.filePath(QStringLiteral("f%1.cvx").arg(counter_++));
        WriteVelmarFileII w;
        EXPECT_TRUE(OpenLikeWindow(w, name, 20000, 1, 2));
        for (int r = 0; r < records; ++r)
            EXPECT_TRUE(WriteLikeWindow(w, r, frames));
        w.CloseFile();
        return FileBytes(name.toStdString());
    }
    QTemporaryDir dir_;
    int counter_ = 0;
};

TEST(Utf8CutTest, NeverSplitsACharacter) {
    struct Case {
        std::string text;
        std::size_t limit;
        std::size_t expected;
    };
    const Case cases[] = {
        {"abc", 5, 3},
        {"abc", 3, 3},
        {"abc", 2, 2},
        {"a\xc3\xa9", 2, 1},  // would split é
        {"a\xc3\xa9", 3, 3},
        {"a\xe2\x82\xac", 3, 1},      // would split €
        {"\xf0\x9f\x98\x80z", 4, 4},  // 4-byte character fits exactly
        {"\xf0\x9f\x98\x80z", 2, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(recfile::Utf8CutLength(c.text.data(), c.text.size(), c.limit), c.expected)
            << c.text << " limit " << c.limit;
    }
}

// The layout of docs/recording-format.md, byte by byte, with the numbers written out here
// rather than taken from the code's constants: the file header (both versions), a version 1
// record and a version 2 record with its settings block.
void ExpectDocumentedHeader(const std::vector<uint8_t>& b, uint64_t version) {
    const uint8_t magic[] = {0x89, 'R', 'V', '8', '\r', '\n', 0x1A, '\n'};
    EXPECT_EQ(std::memcmp(b.data(), magic, 8), 0);
    EXPECT_EQ(Le(b, 8, 2), version);  // format version
    EXPECT_EQ(Le(b, 10, 4), 70u);     // header size
    EXPECT_EQ(Le(b, 14, 2), 2u);      // channels
    EXPECT_EQ(Le(b, 16, 2), 1u);      // 16-bit signed
    EXPECT_EQ(LeF64(b, 18), 1000.0);
    EXPECT_EQ(LeF64(b, 26), 2.5);
    EXPECT_EQ(LeF64(b, 34), -2.5);
    EXPECT_EQ(LeF64(b, 42), 0.1);
    EXPECT_EQ(LeF64(b, 50), -0.1);
    const int64_t created = static_cast<int64_t>(Le(b, 58, 8));
    EXPECT_GT(created, 1'600'000'000'000'000);  // microseconds, after 2020
    EXPECT_EQ(Le(b, 66, 4), Crc32(b.data(), 66));
}

TEST_F(ReaderTest, Version1BytesFollowTheDocumentedLayout) {
    RecordingHeader h;
    h.channelCount = 2;
    h.sampleFormat = 1;
    h.sampleRate = 1000;
    h.ranges = {{2.5, -2.5}, {0.1, -0.1}};
    h.creationTimeUs = 1'700'000'000'000'000;
    std::vector<uint8_t> b = EncodeRecordingHeader(h, 1);
    const int16_t samples[] = {1, -2, 0x1234, -32768};
    RecordFields f;
    f.timeUs = h.creationTimeUs + 1;
    f.sampleRate = 1000;
    f.eventMark = 7;
    b.resize(70 + 50);
    ASSERT_EQ(EncodeRecord(b.data() + 70, f, "ab", 2, samples, 2, 2, 1), 50u);
    ExpectDocumentedHeader(b, 1);

    const std::size_t r = 70;
    EXPECT_EQ(std::string(b.begin() + r, b.begin() + r + 4), "R8RC");
    EXPECT_EQ(Le(b, r + 4, 4), 0u);  // record number
    EXPECT_EQ(static_cast<int64_t>(Le(b, r + 8, 8)), f.timeUs);
    EXPECT_EQ(LeF64(b, r + 16), 1000.0);
    EXPECT_EQ(Le(b, r + 24, 4), 7u);  // event mark
    EXPECT_EQ(Le(b, r + 28, 4), 2u);  // comment bytes
    EXPECT_EQ(Le(b, r + 32, 4), 2u);  // frames
    EXPECT_EQ(std::string(b.begin() + r + 36, b.begin() + r + 38), "ab");
    const std::vector<uint8_t> sampleBytes = {0x01, 0x00, 0xFE, 0xFF, 0x34, 0x12, 0x00, 0x80};
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + r + 38, b.begin() + r + 46), sampleBytes);
    EXPECT_EQ(Le(b, r + 46, 4), Crc32(b.data() + r, 46));

    // Read back: every setting unknown, the time the one stored.
    const RecordingReadResult back = ParseRecording(b.data(), b.size());
    ASSERT_EQ(back.records.size(), 1u);
    EXPECT_EQ(back.header.version, 1);
    EXPECT_FALSE(back.records[0].hasSettings);
    Acquisition unknown;
    unknown.sampleFrequency = 1000;
    EXPECT_EQ(back.records[0].acquisition, unknown);
    EXPECT_EQ(back.records[0].writtenUs, f.timeUs);
}

TEST_F(ReaderTest, Version2BytesFollowTheDocumentedLayout) {
    const QString name = dir_.filePath(QStringLiteral("layout.cvx"));
    WriteVelmarFileII w;
    ASSERT_TRUE(OpenLikeWindow(w, name, 1000, 2.5, 0.1));
    const int16_t samples[] = {1, -2, 0x1234, -32768};
    Acquisition a = testing::TestAcquisition(41, 2);
    a.sampleFrequency = 1000;  // the record's rate, though the file was opened at another
    w.AddAcquisition(a);
    w.AddComment(QStringLiteral("ab"));
    w.AddEventMark(7);
    ASSERT_TRUE(w.WriteBlock(samples, 2));
    // A record without an acquisition: the rate set, unknown settings, the time of writing.
    w.SampleRate(250);
    ASSERT_TRUE(w.WriteBlock(samples, 2));
    w.CloseFile();
    const std::vector<uint8_t> b = FileBytes(name.toStdString());
    ASSERT_EQ(b.size(), 70u + 142u + 140u);
    ExpectDocumentedHeader(b, 2);

    const std::size_t r = 70;
    EXPECT_EQ(std::string(b.begin() + r, b.begin() + r + 4), "R8RC");
    EXPECT_EQ(Le(b, r + 4, 4), 0u);                                 // record number
    EXPECT_EQ(static_cast<int64_t>(Le(b, r + 8, 8)), a.endTimeUs);  // end of the measurement
    EXPECT_EQ(LeF64(b, r + 16), 1000.0);
    EXPECT_EQ(Le(b, r + 24, 4), 7u);  // event mark
    EXPECT_EQ(Le(b, r + 28, 4), 2u);  // comment bytes
    EXPECT_EQ(Le(b, r + 32, 4), 2u);  // frames
    // The settings block.
    EXPECT_EQ(Le(b, r + 36, 4), 92u);  // its size: 28 + 32 per channel
    EXPECT_EQ(Le(b, r + 40, 4), 42u);  // acquisition number
    const int64_t written = static_cast<int64_t>(Le(b, r + 44, 8));
    EXPECT_GT(written, 1'750'000'000'000'000);  // now, not the acquisition's (test) time
    EXPECT_EQ(Le(b, r + 52, 4), 2u);            // record length
    EXPECT_EQ(Le(b, r + 56, 4), 1u);            // post-trigger samples
    EXPECT_EQ(b[r + 60], 3);                    // chop
    EXPECT_EQ(b[r + 61], 1);                    // trigger on channel 2
    EXPECT_EQ(b[r + 62], 1);                    // falling
    EXPECT_EQ(b[r + 63], 0);
    const double channels[2][3] = {{1, 0.25, 0.125}, {2, -0.5, 0.25}};
    for (std::size_t c = 0; c < 2; ++c) {
        const std::size_t at = r + 64 + 32 * c;
        EXPECT_EQ(LeF64(b, at), channels[c][0]);       // sensitivity
        EXPECT_EQ(LeF64(b, at + 8), channels[c][1]);   // trigger level
        EXPECT_EQ(LeF64(b, at + 16), channels[c][2]);  // trigger hysteresis
        EXPECT_EQ(b[at + 24], c == 0 ? 1 : 0);         // DC, AC
        EXPECT_EQ(Le(b, at + 25, 7), 0u);
    }
    EXPECT_EQ(std::string(b.begin() + r + 128, b.begin() + r + 130), "ab");
    const std::vector<uint8_t> sampleBytes = {0x01, 0x00, 0xFE, 0xFF, 0x34, 0x12, 0x00, 0x80};
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + r + 130, b.begin() + r + 138), sampleBytes);
    EXPECT_EQ(Le(b, r + 138, 4), Crc32(b.data() + r, 138));

    const std::size_t q = r + 142;
    EXPECT_EQ(LeF64(b, q + 16), 250.0);
    EXPECT_EQ(Le(b, q + 28, 4), 0u);  // no comment
    EXPECT_EQ(Le(b, q + 40, 4), 0u);  // no acquisition
    EXPECT_EQ(Le(b, q + 8, 8), Le(b, q + 44, 8));
    EXPECT_EQ(Le(b, q + 52, 4), 0xFFFFFFFFu);  // unknown record length: -1
    EXPECT_EQ(Le(b, q + 60, 3), 0xFFFFFFu);    // unknown codes
    EXPECT_TRUE(std::isnan(LeF64(b, q + 64)));
    EXPECT_EQ(b[q + 64 + 24], 0xFF);

    // Read back as written.
    const RecordingReadResult back = ReadRecording(name.toStdString());
    ASSERT_EQ(back.records.size(), 2u);
    EXPECT_TRUE(back.records[0].hasSettings);
    EXPECT_EQ(back.records[0].acquisition, a);
    EXPECT_EQ(back.records[0].writtenUs, written);
    EXPECT_EQ(back.records[0].samplesOffset, r + 130);
    Acquisition none;
    none.sampleFrequency = 250;
    none.endTimeUs = back.records[1].timeUs;
    EXPECT_EQ(back.records[1].acquisition, none);
}

// The two example files of docs/recording-format.md, as bytes made from the page alone.
TEST_F(ReaderTest, TheDocumentedExamplesRead) {
    const char* dir = std::getenv("RV8_SOURCE_DIR");
    const std::string data = std::string(dir != nullptr ? dir : ".") + "/tests/data/";
    for (int version : {1, 2}) {
        SCOPED_TRACE(version);
        const RecordingReadResult r =
            ReadRecording(data + "example-v" + std::to_string(version) + ".cvx");
        ASSERT_TRUE(r.headerOk) << r.error;
        EXPECT_FALSE(r.damagedTail) << r.error;
        EXPECT_EQ(r.header.version, version);
        EXPECT_EQ(r.header.ranges[1].upper, 0.1);
        ASSERT_EQ(r.records.size(), 1u);
        const RecordingRecord& rec = r.records[0];
        EXPECT_EQ(rec.comment, "ab");
        EXPECT_EQ(rec.eventMark, 7);
        EXPECT_EQ(rec.samples, (std::vector<int16_t>{1, -2, 0x1234, -32768}));
        EXPECT_EQ(rec.hasSettings, version == 2);
        Acquisition a;
        a.sampleFrequency = 1000;
        if (version == 2) {
            a.number = 1;
            a.endTimeUs = r.header.creationTimeUs + 1'000'000;
            a.recordLength = 2;
            a.postSamples = 1;
            a.measureMode = acq::kModeChop;
            a.triggerSource = acq::kSourceChannel1;
            a.triggerSlope = acq::kRising;
            a.channel[0] = {2.5, 0.5, 0.3125, acq::kDC};
            a.channel[1] = {0.1, 0, 0.0125, acq::kAC};
            EXPECT_EQ(rec.writtenUs, rec.timeUs + 2500);
        }
        EXPECT_EQ(rec.acquisition, a);
    }
}

TEST_F(ReaderTest, EveryTruncationOfTheLastRecordIsDetected) {
    const std::vector<uint8_t> file = MakeFile(3, 5);
    const std::size_t record = recfile::RecordSize(13, 5, 2);
    const std::size_t lastStart = file.size() - record;
    for (std::size_t keep = 1; keep < record; ++keep) {
        const RecordingReadResult r = ParseRecording(file.data(), lastStart + keep);
        ASSERT_TRUE(r.headerOk);
        EXPECT_TRUE(r.damagedTail) << keep;
        EXPECT_EQ(r.tailOffset, lastStart) << keep;
        EXPECT_EQ(r.tailIndex, 2u);
        ASSERT_EQ(r.records.size(), 2u) << keep;
        EXPECT_EQ(r.records[1].samples, TestBlock(1, 5));
    }
    // Cut between records: a shorter but intact file.
    const RecordingReadResult whole = ParseRecording(file.data(), lastStart);
    EXPECT_FALSE(whole.damagedTail);
    EXPECT_EQ(whole.records.size(), 2u);
}

TEST_F(ReaderTest, EveryFlippedByteIsDetected) {
    const std::vector<uint8_t> file = MakeFile(3, 5);
    const std::size_t record = recfile::RecordSize(13, 5, 2);
    for (std::size_t victim = 0; victim < 3; ++victim) {
        const std::size_t start = recfile::HeaderSize(2) + victim * record;
        for (std::size_t i = 0; i < record; ++i) {
            std::vector<uint8_t> bad = file;
            bad[start + i] ^= 0x10;
            const RecordingReadResult r = ParseRecording(bad.data(), bad.size());
            EXPECT_TRUE(r.damagedTail) << "record " << victim << " byte " << i;
            EXPECT_EQ(r.tailOffset, start);
            EXPECT_EQ(r.tailIndex, victim);
            EXPECT_EQ(r.records.size(), victim);
        }
    }
    // Trailing garbage after intact records.
    std::vector<uint8_t> longer = file;
    longer.insert(longer.end(), 100, 0xAB);
    const RecordingReadResult r = ParseRecording(longer.data(), longer.size());
    EXPECT_TRUE(r.damagedTail);
    EXPECT_EQ(r.records.size(), 3u);
    EXPECT_EQ(r.tailOffset, file.size());
}

TEST_F(ReaderTest, BadHeadersAreRefused) {
    const std::vector<uint8_t> file = MakeFile(1, 2);
    constexpr std::size_t kAll = SIZE_MAX;
    struct Case {
        const char* name;
        std::size_t offset;  // byte to change (before the CRC is recomputed, if asked)
        uint8_t value;
        bool fixCrc;
        std::size_t size;  // bytes of the file to parse
    };
    const Case cases[] = {
        {"magic", 1, 'X', true, kAll},
        {"version 0", 8, 0, true, kAll},
        {"version after the newest", 8, 3, true, kAll},
        {"header size", 10, 71, true, kAll},
        {"no channels", 14, 0, true, kAll},
        {"many channels", 15, 0xFF, true, kAll},
        {"sample format", 16, 2, true, kAll},
        {"rate, bad crc", 20, 0x55, false, kAll},
        {"crc", 66, 0x00, false, kAll},
        {"short header", 0, 0x89, false, 69},
        {"empty", 0, 0x89, false, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = file;
        bad[c.offset] = c.value;
        if (c.fixCrc) recfile::PutU32(bad.data() + 66, Crc32(bad.data(), 66));
        const std::size_t size = std::min(c.size, bad.size());
        const RecordingReadResult r = ParseRecording(bad.data(), size);
        EXPECT_FALSE(r.headerOk) << c.name;
        EXPECT_FALSE(r.error.empty()) << c.name;
        EXPECT_TRUE(r.records.empty()) << c.name;
    }
    EXPECT_FALSE(ParseRecording(nullptr, 0).headerOk);
}

TEST_F(ReaderTest, HostileLengthsStopReadingWithoutAllocating) {
    const std::vector<uint8_t> file = MakeFile(2, 3);
    const std::size_t second = recfile::HeaderSize(2) + recfile::RecordSize(13, 3, 2);
    struct Case {
        std::size_t field;
        uint32_t value;
    };
    const Case cases[] = {{32, 0xFFFFFFFFu}, {32, 0x80000000u}, {28, 0xFFFFFFFFu},
                          {28, 65537u},      {4, 0xFFFFFFFFu},  {0, 0u}};
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = file;
        recfile::PutU32(bad.data() + second + c.field, c.value);
        const RecordingReadResult r = ParseRecording(bad.data(), bad.size());
        EXPECT_TRUE(r.damagedTail) << c.field << "=" << c.value;
        EXPECT_EQ(r.tailOffset, second);
        EXPECT_EQ(r.records.size(), 1u);
    }
}

// Random damage anywhere (bytes changed, file cut) never crashes the reader, and what it
// returns is always a prefix of the intact file's records.
TEST_F(ReaderTest, RandomDamageYieldsAPrefixOfTheRecords) {
    const std::vector<uint8_t> file = MakeFile(4, 6);
    const RecordingReadResult intact = ParseRecording(file.data(), file.size());
    ASSERT_EQ(intact.records.size(), 4u);
    uint32_t x = 2024;
    const auto next = [&x] {
        x = x * 1664525u + 1013904223u;
        return x >> 8;
    };
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bad = file;
        for (int k = 1 + next() % 4; k > 0; --k)
            bad[next() % bad.size()] = static_cast<uint8_t>(next());
        bad.resize(next() % 2 ? bad.size() : next() % bad.size());
        const RecordingReadResult r = ParseRecording(bad.data(), bad.size());
        ASSERT_LE(r.records.size(), 4u);
        for (std::size_t i = 0; i < r.records.size(); ++i) {
            ASSERT_EQ(r.records[i].samples, intact.records[i].samples) << round;
            ASSERT_EQ(r.records[i].comment, intact.records[i].comment) << round;
        }
    }
}

TEST_F(ReaderTest, StreamingVisitsInOrderAndCanStop) {
    const std::vector<uint8_t> file = MakeFile(5, 4);
    const std::string path = dir_.filePath(QStringLiteral("f0.cvx")).toStdString();
    std::vector<uint32_t> seen;
    int headers = 0;
    RecordingReadResult r = ScanRecording(
        path,
        [&](const RecordingRecord& rec) {
            seen.push_back(rec.number);
            return rec.number < 2;
        },
        [&](const RecordingHeader& h) { headers += h.channelCount; });
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(headers, 2);
    EXPECT_TRUE(r.stoppedByVisitor);
    EXPECT_FALSE(r.damagedTail);
    EXPECT_TRUE(r.records.empty());

    const RecordingReadResult all = ReadRecording(path);
    EXPECT_EQ(all.recordCount, 5u);
    EXPECT_EQ(all.records.size(), 5u);
    EXPECT_EQ(all.firstTimeUs, all.records.front().timeUs);
    EXPECT_EQ(all.lastTimeUs, all.records.back().timeUs);

    for (const std::string& bad : {dir_.path().toStdString(), path + ".missing"}) {
        const RecordingReadResult e = ReadRecording(bad);
        EXPECT_FALSE(e.headerOk);
        EXPECT_TRUE(e.ioError);
        EXPECT_NE(e.error.find(bad), std::string::npos) << e.error;
    }
}

}  // namespace
}  // namespace rv8
