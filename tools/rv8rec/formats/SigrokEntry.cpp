// The channel entries of a sigrok session: float32 volts in stored deflate blocks.
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>

#include "tools/rv8rec/formats/Sigrok.h"

namespace rv8rec::sigrok {

namespace {

// Reads `n` bytes at `offset`; false (errno set, EIO for a file that ends early) otherwise.
bool ReadAt(int fd, uint8_t* buf, std::size_t n, uint64_t offset) {
    for (std::size_t done = 0; done < n;) {
        const ssize_t got = ::pread(fd, buf + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

void ChannelSource::open() {
    piece = 0;
    frame = 0;
    floatsLeft = session->frames;
    outBytes = outPos = 0;
    headPos = 5;
    crc = 0;
    crcKnown = false;
    finalSent = false;
    if (floatsLeft == 0) {  // one empty final block
        const uint8_t empty[5] = {1, 0, 0, 0xFF, 0xFF};
        std::memcpy(head, empty, 5);
        headPos = 0;
        finalSent = crcKnown = true;
    }
    const std::size_t frameBytes = 2u * channels;
    out.resize(std::min<uint64_t>(kBlockFloats, floatsLeft));
    raw.resize(std::max(frameBytes, std::min(kReadBytes, out.size() * frameBytes)));
}

void ChannelSource::close() {
    std::vector<float>().swap(out);
    std::vector<uint8_t>().swap(raw);
}

bool ChannelSource::nextBlock() {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kBlockFloats, floatsLeft));
    out.resize(n);
    const std::size_t frameBytes = 2u * channels;
    const uint32_t framesPerRead = static_cast<uint32_t>(raw.size() / frameBytes);
    for (uint32_t i = 0; i < n;) {
        while (piece < session->pieces.size() && frame >= session->pieces[piece].frames) {
            ++piece;
            frame = 0;
        }
        if (piece >= session->pieces.size()) {
            zip_error_set(&error, ZIP_ER_INTERNAL, 0);
            return false;
        }
        const Piece& p = session->pieces[piece];
        const uint32_t k = std::min({n - i, p.frames - frame, framesPerRead});
        if (!ReadAt(fd, raw.data(), k * frameBytes,
                    p.offset + static_cast<uint64_t>(frame) * frameBytes)) {
            const int e = errno;
            if (failure != nullptr) {
                *failure = std::string(
                               "cannot read the recording while exporting it (was it cut "
                               "short meanwhile?): ") +
                           std::strerror(e);
            }
            zip_error_set(&error, ZIP_ER_READ, e);
            return false;
        }
        const uint8_t* src = raw.data() + 2u * channel;
        float* d = out.data() + i;
        for (uint32_t j = 0; j < k; ++j, src += frameBytes)
            d[j] = lut[static_cast<uint16_t>(src[0] | (src[1] << 8))];
        frame += k;
        i += k;
    }
    if constexpr (std::endian::native == std::endian::big) {
        for (float& f : out)
            f = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<uint32_t>(f)));
    }
    outBytes = static_cast<std::size_t>(n) * sizeof(float);
    outPos = 0;
    crc = rv8::Crc32(out.data(), outBytes, crc);
    floatsLeft -= n;
    const bool last = floatsLeft == 0;
    const uint16_t len = static_cast<uint16_t>(outBytes);
    head[0] = last ? 1 : 0;  // BFINAL, BTYPE 00 (stored), then the byte's padding
    head[1] = static_cast<uint8_t>(len);
    head[2] = static_cast<uint8_t>(len >> 8);
    head[3] = static_cast<uint8_t>(~len);
    head[4] = static_cast<uint8_t>(~len >> 8);
    headPos = 0;
    if (last) {
        finalSent = true;
        crcKnown = true;
    }
    return true;
}

zip_int64_t ChannelSource::read(uint8_t* dst, zip_uint64_t len) {
    zip_uint64_t given = 0;
    while (given < len) {
        if (headPos < 5) {
            const std::size_t n = std::min<std::size_t>(len - given, 5 - headPos);
            std::memcpy(dst + given, head + headPos, n);
            headPos += static_cast<int>(n);
            given += n;
        } else if (outPos < outBytes) {
            const std::size_t n = std::min<std::size_t>(len - given, outBytes - outPos);
            std::memcpy(dst + given, reinterpret_cast<const uint8_t*>(out.data()) + outPos, n);
            outPos += n;
            given += n;
        } else if (!finalSent) {
            if (!nextBlock()) {
                if (zip_error_code_zip(&error) == ZIP_ER_OK)
                    zip_error_set(&error, ZIP_ER_READ, EIO);
                return -1;
            }
        } else {
            break;
        }
    }
    return static_cast<zip_int64_t>(given);
}

zip_int64_t ChannelSource::Callback(void* user, void* data, zip_uint64_t len,
                                    zip_source_cmd_t cmd) {
    auto* self = static_cast<ChannelSource*>(user);
    switch (cmd) {
        case ZIP_SOURCE_OPEN:
            try {
                self->open();
            } catch (const std::bad_alloc&) {
                zip_error_set(&self->error, ZIP_ER_MEMORY, 0);
                return -1;
            }
            return 0;
        case ZIP_SOURCE_READ:
            return self->read(static_cast<uint8_t*>(data), len);
        case ZIP_SOURCE_CLOSE:
            self->close();
            return 0;
        case ZIP_SOURCE_STAT: {
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            st->size = self->size();
            st->comp_size = self->deflatedSize();
            st->comp_method = ZIP_CM_DEFLATE;
            st->valid |= ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD;
            if (self->crcKnown) {
                st->crc = self->crc;
                st->valid |= ZIP_STAT_CRC;
            }
            return sizeof(*st);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&self->error, data, len);
        case ZIP_SOURCE_FREE:
            zip_error_fini(&self->error);
            delete self;
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return ZIP_SOURCE_SUPPORTS_READABLE;
        default:
            zip_error_set(&self->error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
    }
}

}  // namespace rv8rec::sigrok
