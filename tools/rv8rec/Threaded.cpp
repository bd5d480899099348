// MakeThreadedExporter: the format's exporter in a worker thread behind a bounded queue.
//
// Memory: the queue holds at most kDepth records and, beyond the first, at most kQueueBytes of
// samples; the buffers of finished records are kept for reuse within the same budget. So
// besides the record being read and the one being written, at most about kQueueBytes are held,
// whatever the records' sizes.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "tools/rv8rec/Common.h"

namespace rv8rec {

namespace {

class ThreadedExporter final : public Exporter {
  public:
    explicit ThreadedExporter(std::unique_ptr<Exporter> inner) : inner_(std::move(inner)) {}
    ~ThreadedExporter() override { stop(); }

    bool begin(const rv8::RecordingHeader& header) override {
        if (!inner_->begin(header)) return fail(inner_->error());
        HoldSignals hold;  // the worker leaves SIGINT, SIGTERM and SIGHUP to the main thread
        worker_ = std::thread([this] { run(); });
        return true;
    }

    bool record(const rv8::RecordingRecord& record) override {
        const std::size_t bytes = Bytes(record);
        std::unique_lock<std::mutex> lock(mutex_);
        space_.wait(lock, [&] {
            return failed_ || queue_.empty() ||
                   (queue_.size() < kDepth && queuedBytes_ + bytes <= kQueueBytes);
        });
        if (failed_) return fail(workerError());
        try {
            if (spare_.empty()) {
                queue_.push_back(record);
            } else {  // reuse a finished record's buffers
                queue_.push_back(std::move(spare_.back()));
                spare_.pop_back();
                spareBytes_ -= Capacity(queue_.back());
                queue_.back() = record;
            }
        } catch (const std::bad_alloc&) {
            return fail("not enough memory for record " + std::to_string(record.number));
        }
        queuedBytes_ += bytes;
        work_.notify_one();
        return true;
    }

    bool finish() override {
        if (!drain()) return fail(workerError());
        if (!inner_->finish()) return fail(inner_->error());
        return true;
    }

    void abandon() override {
        stop();
        inner_->abandon();
    }

    bool keepsEmptyOutput() const override { return inner_->keepsEmptyOutput(); }

  private:
    static constexpr std::size_t kDepth = 4;
    static constexpr std::size_t kQueueBytes = std::size_t{64} << 20;

    static std::size_t Bytes(const rv8::RecordingRecord& r) {
        return r.samples.size() * sizeof(int16_t) + r.comment.size();
    }
    static std::size_t Capacity(const rv8::RecordingRecord& r) {
        return r.samples.capacity() * sizeof(int16_t) + r.comment.capacity();
    }

    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            work_.wait(lock, [this] { return !queue_.empty() || closing_; });
            if (queue_.empty()) return;
            rv8::RecordingRecord rec = std::move(queue_.front());
            queue_.pop_front();
            queuedBytes_ -= Bytes(rec);
            lock.unlock();
            bool ok = false;
            try {
                ok = inner_->record(rec);
            } catch (const std::bad_alloc&) {
                outOfMemory_ = "not enough memory for record " + std::to_string(rec.number);
            }
            lock.lock();
            if (spareBytes_ + Capacity(rec) <= kQueueBytes && spare_.size() < kDepth) {
                spareBytes_ += Capacity(rec);
                spare_.push_back(std::move(rec));
            }
            if (!ok) {
                failed_ = true;
                queue_.clear();
                queuedBytes_ = 0;
            }
            space_.notify_one();
            if (failed_) return;
        }
    }

    std::string workerError() const {
        return outOfMemory_.empty() ? inner_->error() : outOfMemory_;
    }

    // Waits until the worker has handed every queued record on; false when one failed.
    bool drain() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        work_.notify_one();
        if (worker_.joinable()) worker_.join();
        return !failed_;
    }

    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
            queue_.clear();
            queuedBytes_ = 0;
        }
        work_.notify_one();
        if (worker_.joinable()) worker_.join();
    }

    std::unique_ptr<Exporter> inner_;
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable work_, space_;
    std::deque<rv8::RecordingRecord> queue_;
    std::vector<rv8::RecordingRecord> spare_;
    std::size_t queuedBytes_ = 0, spareBytes_ = 0;
    bool closing_ = false;
    bool failed_ = false;
    std::string outOfMemory_;
};

}  // namespace

std::unique_ptr<Exporter> MakeThreadedExporter(std::unique_ptr<Exporter> inner) {
    return std::make_unique<ThreadedExporter>(std::move(inner));
}

}  // namespace rv8rec
