// What the fuzz targets share: a failure that libFuzzer reports, and the input as a file.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace rv8::fuzz {

// Ends the run as a finding, saying what (on stdout: the export and plot targets close stderr).
[[noreturn]] inline void Fail(const std::string& what) {
    std::printf("FAILED: %s\n", what.c_str());
    std::fflush(stdout);
    std::abort();
}

// A memory file holding the input, rewritten for each one; path() opens it by name.
class MemoryFile {
  public:
    explicit MemoryFile(const char* name)
        : fd_(::memfd_create(name, MFD_CLOEXEC)), path_("/proc/self/fd/" + std::to_string(fd_)) {}
    bool write(const uint8_t* data, std::size_t size) const {
        if (fd_ < 0 || ::ftruncate(fd_, 0) != 0) return false;
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    const std::string& path() const { return path_; }

  private:
    int fd_;
    std::string path_;
};

}  // namespace rv8::fuzz
