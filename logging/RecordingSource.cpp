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

Got FileSource::read(uint64_t offset, uint8_t* dst, std::size_t n) {
    while (n > 0) {
        // A hole (a sparse file) reads as zeros: they are filled in here rather than paged in by
        // the kernel, so a hostile sparse file costs neither page cache nor time.
        const std::size_t hole = HoleAt(offset, n);
        if (hole > 0) {
            std::memset(dst, 0, hole);
            dst += hole;
            n -= hole;
            offset += hole;
            continue;
        }
        const ssize_t got = ::pread(fd_, dst, DataAt(offset, n), static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error_ = errno;
            return Got::Failed;
        }
        if (got == 0) return Got::Ended;
        dst += got;
        n -= static_cast<std::size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return Got::All;
}

std::size_t FileSource::HoleAt(uint64_t offset, std::size_t n) const {
    const off_t data = ::lseek(fd_, static_cast<off_t>(offset), SEEK_DATA);
    if (data >= 0) return static_cast<std::size_t>(std::min<uint64_t>(n, data - offset));
    if (errno != ENXIO) return 0;
    struct stat st {};  // a hole up to the end, or past the end
    if (::fstat(fd_, &st) != 0 || offset + n > static_cast<uint64_t>(st.st_size)) return 0;
    return n;
}

std::size_t FileSource::DataAt(uint64_t offset, std::size_t n) const {
    const off_t hole = ::lseek(fd_, static_cast<off_t>(offset), SEEK_HOLE);
    if (hole < 0 || static_cast<uint64_t>(hole) <= offset) return n;
    return static_cast<std::size_t>(std::min<uint64_t>(n, hole - offset));
}

std::string NotRegularText(mode_t mode) {
    if (S_ISDIR(mode)) return "it is a folder";
    if (S_ISFIFO(mode)) return "it is a pipe (FIFO), not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
    if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
    return "not a regular file";
}

}  // namespace rv8::recfile
