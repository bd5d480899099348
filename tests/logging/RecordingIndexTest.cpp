// The random-access index against the sequential reader: the same records, the same damaged
// tail with the same words, whatever was done to the file; records found before the walk
// reached them; a file that is still being written, followed as it grows.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QDir>

#include "logging/RecordingFile.h"
#include "logging/RecordingIndex.h"
#include "logging/WriteVelmarFileII.h"
#include "tests/logging/RecordingTestSupport.h"

namespace rv8 {
namespace {

using testing::FileBytes;
using testing::OpenLikeWindow;
using testing::TestBlock;
using testing::WriteBytes;
using testing::WriteLikeWindow;
using Result = RecordingIndex::Result;

RecordingIndex::Options Settled() {
    RecordingIndex::Options o;
    o.settle = std::chrono::milliseconds(0);  // an incomplete last record is damage at once
    return o;
}

// Walks and checks everything there is to walk and check.
RecordingIndex::Status Finish(RecordingIndex& index) {
    while (index.advance()) {
    }
    return index.status();
}

class IndexTest : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }
    // A file of `records` records of `frames` frames, written as the window writes.
    std::string MakeFile(int records, int frames) {
        const std::string name = path("f" + std::to_string(counter_++) + ".cvx");
        WriteVelmarFileII w;
        EXPECT_TRUE(OpenLikeWindow(w, QString::fromStdString(name), 20000, 1, 2));
        for (int r = 0; r < records; ++r)
            EXPECT_TRUE(WriteLikeWindow(w, r, frames));
        w.CloseFile();
        return name;
    }
    std::string Save(const std::vector<uint8_t>& bytes) {
        const std::string name = path("v" + std::to_string(counter_++) + ".cvx");
        WriteBytes(name, bytes);
        return name;
    }
    // The index and the sequential reader agree on the file at `name`.
    void ExpectSameAsReader(const std::string& name, const std::string& what) {
        const RecordingReadResult r = ScanRecording(name, nullptr);
        std::string error;
        const auto index = RecordingIndex::Open(name, Settled(), error);
        ASSERT_EQ(index != nullptr, r.headerOk) << what << ": " << error;
        if (!index) {
            EXPECT_EQ(error, r.error) << what;
            return;
        }
        const RecordingIndex::Status s = Finish(*index);
        EXPECT_EQ(s.count, r.recordCount) << what;
        EXPECT_EQ(s.damaged, r.damagedTail) << what;
        if (!r.damagedTail) return;
        EXPECT_EQ(s.damage, r.error) << what;
        EXPECT_EQ(s.tailOffset, r.tailOffset) << what;
        EXPECT_EQ(s.intact, r.tailIndex) << what;
    }
    QTemporaryDir dir_;
    int counter_ = 0;
};

TEST_F(IndexTest, EndsTheIntactRecordsWhereTheReaderDoes) {
    const std::vector<uint8_t> file = FileBytes(MakeFile(3, 5));
    const std::size_t record = recfile::RecordSize(13, 5, 2);
    const std::size_t header = recfile::HeaderSize(2);
    // Every byte of the middle record flipped (head, settings, comment, samples, CRC), and the
    // last record cut at every length.
    for (std::size_t i = 0; i < record; ++i) {
        std::vector<uint8_t> bad = file;
        bad[header + record + i] ^= 0x10;
        ExpectSameAsReader(Save(bad), "flipped byte " + std::to_string(i));
    }
    for (std::size_t keep = 0; keep < record; keep += 7) {
        const std::vector<uint8_t> cut(file.begin(), file.end() - static_cast<long>(record - keep));
        ExpectSameAsReader(Save(cut), "last record cut to " + std::to_string(keep));
    }
    std::vector<uint8_t> longer = file;
    longer.insert(longer.end(), 100, 0xAB);
    ExpectSameAsReader(Save(longer), "garbage after the records");
    ExpectSameAsReader(Save(file), "intact");
}

TEST_F(IndexTest, RefusesWhatTheReaderRefusesWithItsWords) {
    const std::vector<uint8_t> file = FileBytes(MakeFile(1, 2));
    const std::string source = std::getenv("RV8_SOURCE_DIR") ? std::getenv("RV8_SOURCE_DIR") : ".";
    struct Case {
        const char* name;
        std::string path;
    };
    const Case cases[] = {
        {"empty", Save({})},
        {"text", Save(std::vector<uint8_t>(200, 'a'))},
        {"header cut", Save(std::vector<uint8_t>(file.begin(), file.begin() + 60))},
        {"folder", dir_.path().toStdString()},
        {"missing", path("nothing-here.cvx")},
        {"version 1 example", source + "/tests/data/example-v1.cvx"},
        {"version 2 example", source + "/tests/data/example-v2.cvx"},
    };
    for (const Case& c : cases)
        ExpectSameAsReader(c.path, c.name);
}

TEST_F(IndexTest, ReadsEveryRecordAsTheReaderDoes) {
    const std::string name = MakeFile(4, 300);
    const RecordingReadResult all = ReadRecording(name);
    std::string error;
    const auto index = RecordingIndex::Open(name, Settled(), error);  // just written: at rest
    ASSERT_TRUE(index) << error;
    // Straight after opening, before any walk: the last record is found where the first
    // record's size puts it, and the count is known from the file's size.
    EXPECT_EQ(index->status().indexed, 1u);
    EXPECT_EQ(index->status().count, 4u);
    RecordingRecord rec;
    for (int k : {3, 0, 2, 1}) {
        ASSERT_EQ(index->read(k, rec), Result::Ok) << k;
        const RecordingRecord& want = all.records[k];
        EXPECT_EQ(rec.samples, want.samples);
        EXPECT_EQ(rec.comment, want.comment);
        EXPECT_EQ(rec.timeUs, want.timeUs);
        EXPECT_EQ(rec.offset, want.offset);
        EXPECT_EQ(rec.acquisition, want.acquisition);
        EXPECT_EQ(rec.eventMark, 1);
    }
    EXPECT_EQ(index->read(4, rec), Result::Missing);
    const RecordingIndex::Status s = Finish(*index);
    EXPECT_EQ(s.indexed, 4u);
    EXPECT_EQ(s.verified, 4u);
    EXPECT_FALSE(s.damaged);
}

TEST_F(IndexTest, AReadThatFindsADamagedRecordEndsTheRecordsThere) {
    std::vector<uint8_t> file = FileBytes(MakeFile(5, 50));
    const std::size_t record = recfile::RecordSize(13, 50, 2);
    file[recfile::HeaderSize(2) + 3 * record + 200] ^= 1;  // a sample of record 3
    const std::string name = Save(file);
    std::string error;
    RecordingIndex::Options noCrcWalk;
    noCrcWalk.verify = false;
    const auto index = RecordingIndex::Open(name, noCrcWalk, error);
    ASSERT_TRUE(index);
    EXPECT_EQ(Finish(*index).count, 5u);  // the heads are sound
    RecordingRecord rec;
    EXPECT_EQ(index->read(4, rec), Result::Ok);
    std::string why;
    EXPECT_EQ(index->read(3, rec, &why), Result::Damaged);
    EXPECT_EQ(why, ScanRecording(name, nullptr).error);
    EXPECT_EQ(index->status().count, 3u);
    EXPECT_EQ(index->read(4, rec), Result::Missing);  // never a record after a bad one
}

TEST_F(IndexTest, FollowsAFileTheWriterIsStillWriting) {
    const std::string name = path("growing.cvx");
    WriteVelmarFileII w;
    ASSERT_TRUE(OpenLikeWindow(w, QString::fromStdString(name), 20000, 1, 2));
    ASSERT_TRUE(WriteLikeWindow(w, 0, 100));
    std::string error;
    RecordingIndex::Options options;
    options.settle = std::chrono::milliseconds(300);
    const auto index = RecordingIndex::Open(name, options, error);
    ASSERT_TRUE(index) << error;
    EXPECT_EQ(Finish(*index).count, 1u);
    for (int r = 1; r < 4; ++r)
        ASSERT_TRUE(WriteLikeWindow(w, r, 100));
    EXPECT_EQ(Finish(*index).count, 4u);
    RecordingRecord rec;
    ASSERT_EQ(index->read(3, rec), Result::Ok);
    EXPECT_EQ(rec.samples, TestBlock(3, 100));
    w.CloseFile();

    // Half a record at the end: not there yet while the file is fresh, damage once it settled.
    std::vector<uint8_t> next = FileBytes(MakeFile(5, 100));
    const std::size_t record = recfile::RecordSize(13, 100, 2);
    const std::size_t end4 = recfile::HeaderSize(2) + 4 * record;
    std::vector<uint8_t> partial(next.begin(), next.begin() + static_cast<long>(end4 + record / 2));
    WriteBytes(name + ".2", partial);
    const auto grown = RecordingIndex::Open(name + ".2", options, error);
    ASSERT_TRUE(grown);
    RecordingIndex::Status s = Finish(*grown);
    EXPECT_EQ(s.count, 4u);
    EXPECT_TRUE(s.pending);
    EXPECT_FALSE(s.damaged);
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    s = Finish(*grown);
    EXPECT_FALSE(s.pending);
    ASSERT_TRUE(s.damaged);
    EXPECT_EQ(s.damage, ScanRecording(name + ".2", nullptr).error);
    // The rest of the record lands after all: the damage was only a slow writer.
    WriteBytes(name + ".2", next);
    s = Finish(*grown);
    EXPECT_FALSE(s.damaged);
    EXPECT_EQ(s.count, 5u);
    EXPECT_EQ(grown->read(4, rec), Result::Ok);
}

TEST_F(IndexTest, TheBackgroundWalkReportsWhatItFinds) {
    const std::string name = MakeFile(600, 20);  // more heads than one step walks
    std::string error;
    RecordingIndex::Options options;
    options.settle = std::chrono::milliseconds(100);  // the file just written rests soon
    const auto index = RecordingIndex::Open(name, options, error);
    ASSERT_TRUE(index);
    std::atomic<int> changes{0};
    index->startBackground([&changes] { ++changes; }, std::chrono::milliseconds(10));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (index->status().verified < 600 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const RecordingIndex::Status s = index->status();
    EXPECT_EQ(s.indexed, 600u);
    EXPECT_EQ(s.verified, 600u);
    EXPECT_FALSE(s.walking);
    EXPECT_FALSE(s.verifying);
    EXPECT_GE(changes.load(), 3);
}

}  // namespace
}  // namespace rv8
