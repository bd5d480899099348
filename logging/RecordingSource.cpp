#include "logging/RecordingSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace rv8::recfile {

FileSource::~FileSource() {
    ::close(fd_);
}

namespace {

// Bytes of a hole at `offset`, at most n (0: data, or nothing known; a file system without holes
// reports data everywhere). Past the file's present end nothing counts as a hole.
std::size_t HoleAt(int fd, uint64_t offset, std::size_t n) {
    const off_t data = ::lseek(fd, static_cast<off_t>(offset), SEEK_DATA);
    if (data >= 0) return static_cast<std::size_t>(std::min<uint64_t>(n, data - offset));
    if (errno != ENXIO) return 0;
    struct stat st {};  // a hole up to the end, or past the end
    if (::fstat(fd, &st) != 0 || offset + n > static_cast<uint64_t>(st.st_size)) return 0;
    return n;
}

// Bytes of data at `offset` before the next hole, at most n (and at least 1).
std::size_t DataAt(int fd, uint64_t offset, std::size_t n) {
    const off_t hole = ::lseek(fd, static_cast<off_t>(offset), SEEK_HOLE);
    if (hole < 0 || static_cast<uint64_t>(hole) <= offset) return n;
    return static_cast<std::size_t>(std::min<uint64_t>(n, hole - offset));
}

}  // namespace

Got ReadFile(int fd, uint64_t offset, uint8_t* dst, std::size_t n, int& error) {
    while (n > 0) {
        const std::size_t hole = HoleAt(fd, offset, n);
        if (hole > 0) {
            std::memset(dst, 0, hole);
            dst += hole;
            n -= hole;
            offset += hole;
            continue;
        }
        const ssize_t got = ::pread(fd, dst, DataAt(fd, offset, n), static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = errno;
            return Got::Failed;
        }
        if (got == 0) return Got::Ended;
        dst += got;
        n -= static_cast<std::size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return Got::All;
}

Got FileSource::read(uint64_t offset, uint8_t* dst, std::size_t n) {
    return ReadFile(fd_, offset, dst, n, error_);
}

std::string NotRegularText(mode_t mode) {
    if (S_ISDIR(mode)) return "it is a folder";
    if (S_ISFIFO(mode)) return "it is a pipe (FIFO), not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
    if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
    return "not a regular file";
}

}  // namespace rv8::recfile
