// The file of a sigrok session archive, as a writable libzip source.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/rv8rec/formats/Sigrok.h"

namespace rv8rec::sigrok {

zip_int64_t ArchiveFile::command(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    switch (cmd) {
        case ZIP_SOURCE_STAT: {  // a new, empty archive
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            st->size = 0;
            st->valid |= ZIP_STAT_SIZE;
            return sizeof(*st);
        }
        case ZIP_SOURCE_OPEN:
        case ZIP_SOURCE_CLOSE:
            return 0;
        case ZIP_SOURCE_READ:  // nothing to read: the archive is written anew
        case ZIP_SOURCE_SEEK:
        case ZIP_SOURCE_TELL:
            return 0;
        case ZIP_SOURCE_BEGIN_WRITE: {
            std::string why;
            fd_ = out_.open(path_, input_, OutputNeeds::RegularFile, why, batch_);
            if (fd_ < 0) return failed(ZIP_ER_OPEN, why);
            pos_ = size_ = 0;
            buf_.clear();  // grows to kBuffer as the archive is written
            return 0;
        }
        case ZIP_SOURCE_WRITE: {
            if (!buf_.empty() && pos_ != bufStart_ + buf_.size() && !flush()) return -1;
            if (buf_.empty()) bufStart_ = pos_;
            const auto* p = static_cast<const uint8_t*>(data);
            buf_.insert(buf_.end(), p, p + len);
            pos_ += len;
            size_ = std::max(size_, pos_);
            if (buf_.size() >= kBuffer && !flush()) return -1;
            return static_cast<zip_int64_t>(len);
        }
        case ZIP_SOURCE_SEEK_WRITE: {
            const zip_int64_t at = zip_source_seek_compute_offset(pos_, size_, data, len, &error_);
            if (at < 0) return -1;
            pos_ = static_cast<uint64_t>(at);
            return 0;
        }
        case ZIP_SOURCE_TELL_WRITE:
            return static_cast<zip_int64_t>(pos_);
        case ZIP_SOURCE_COMMIT_WRITE: {
            if (!flush()) return -1;
            std::string why;
            if (!out_.commit(why)) return failed(ZIP_ER_RENAME, why);
            fd_ = -1;
            return 0;
        }
        case ZIP_SOURCE_ROLLBACK_WRITE:
            out_.discard();
            fd_ = -1;
            return 0;
        case ZIP_SOURCE_REMOVE:
            return 0;
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error_, data, len);
        case ZIP_SOURCE_FREE:
            out_.discard();
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return ZIP_SOURCE_SUPPORTS_WRITABLE &
                   ~ZIP_SOURCE_MAKE_COMMAND_BITMASK(ZIP_SOURCE_BEGIN_WRITE_CLONING);
        default:
            zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
            return -1;
    }
}

bool ArchiveFile::flush() {
    std::size_t done = 0;
    while (done < buf_.size()) {
        const ssize_t n = ::pwrite(fd_, buf_.data() + done, buf_.size() - done,
                                   static_cast<off_t>(bufStart_ + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed(ZIP_ER_WRITE,
                   "cannot write " + path_ + ": " + std::strerror(n < 0 ? errno : EIO));
            buf_.clear();
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    buf_.clear();
    return true;
}

zip_int64_t ArchiveFile::failed(int code, const std::string& why) {
    failure_ = why;
    zip_error_set(&error_, code, errno);
    return -1;
}

}  // namespace rv8rec::sigrok
