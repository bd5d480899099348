// MakeThreadedExporter: the format's exporter in a worker thread behind a bounded queue.
#include <condition_variable>
#include <deque>
#include <mutex>
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
        worker_ = std::thread([this] { run(); });
        return true;
    }

    bool record(const rv8::RecordingRecord& record) override {
        std::unique_lock<std::mutex> lock(mutex_);
        space_.wait(lock, [this] { return queue_.size() < kDepth || failed_; });
        if (failed_) return fail(inner_->error());
        if (spare_.empty()) {
            queue_.push_back(record);
        } else {  // reuse a finished record's buffers
            queue_.push_back(std::move(spare_.back()));
            spare_.pop_back();
            queue_.back() = record;
        }
        work_.notify_one();
        return true;
    }

    bool finish() override {
        if (!drain()) return fail(inner_->error());
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

    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            work_.wait(lock, [this] { return !queue_.empty() || closing_; });
            if (queue_.empty()) return;
            rv8::RecordingRecord rec = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            const bool ok = inner_->record(rec);
            lock.lock();
            spare_.push_back(std::move(rec));
            if (!ok) {
                failed_ = true;
                queue_.clear();
            }
            space_.notify_one();
            if (failed_) return;
        }
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
    bool closing_ = false;
    bool failed_ = false;
};

}  // namespace

std::unique_ptr<Exporter> MakeThreadedExporter(std::unique_ptr<Exporter> inner) {
    return std::make_unique<ThreadedExporter>(std::move(inner));
}

}  // namespace rv8rec
