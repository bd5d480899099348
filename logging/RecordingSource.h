// Where a reader's bytes come from: a file read piece by piece with pread (holes of a sparse
// file filled in as zeros, a file cut while it is read reported as ended, never a crash), or
// bytes in memory. Shared by the recording readers.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace rv8::recfile {

// How a read of n bytes went.
enum class Got { All, Ended, Failed };  // Ended: the file ended first (it shrank)

// Reads exactly n bytes of the file `fd` at `offset` with pread. A hole of a sparse file reads
// as zeros, filled in here rather than paged in, so that a hostile sparse file costs neither
// page cache nor time; past the file's present end nothing counts as a hole, so that a file cut
// while it is read ends the read (Ended). On Failed, `error` gets errno. Any thread may call it.
Got ReadFile(int fd, uint64_t offset, uint8_t* dst, std::size_t n, int& error);

// Where the bytes come from: a file (read piece by piece) or a buffer in memory.
class Source {
  public:
    virtual ~Source() = default;
    virtual uint64_t size() const = 0;
    // Reads exactly n bytes at offset. Callers stay within size().
    virtual Got read(uint64_t offset, uint8_t* dst, std::size_t n) = 0;
};

class MemorySource : public Source {
  public:
    MemorySource(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    uint64_t size() const override { return size_; }
    Got read(uint64_t offset, uint8_t* dst, std::size_t n) override {
        if (n > 0) std::memcpy(dst, data_ + offset, n);
        return Got::All;
    }

  private:
    const uint8_t* data_;
    std::size_t size_;
};

// Reads the file `fd` (closed with the source) as it was when its size was taken.
class FileSource : public Source {
  public:
    explicit FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    uint64_t size() const override { return size_; }
    Got read(uint64_t offset, uint8_t* dst, std::size_t n) override;
    int error() const { return error_; }

  private:
    int fd_;
    uint64_t size_;
    int error_ = 0;
};

// Why a path that is not a regular file is refused ("it is a folder", "it is a pipe (FIFO), not
// a regular file", ...), from its mode.
std::string NotRegularText(mode_t mode);

}  // namespace rv8::recfile
