// rv8rec export --format sr: a sigrok session file (what sigrok-cli and PulseView open).
//
// The session is a zip archive (written with libzip; no compression) of
//   version            "2"
//   metadata           key file: [global], then [device 1] with samplerate, total analog=C,
//                      analog1=CH1, analog2=CH2, ...
//   analog-1-<c>-1     channel c (1..C): float32 little-endian volts, every frame of the
//                      exported records one after another
// One file holds one sample rate, so the records of one file must share it (or --split writes
// one session per record). The samples are not held in memory: while the archive is written,
// each channel's entry is converted from the recording, record by record, at the offsets the
// checked first pass found.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

#include "tools/rv8rec/Common.h"

namespace rv8rec {

namespace {

constexpr uint64_t kMaxSigrokRate = 1000000000000000ull;  // 1 PHz: far beyond any instrument

// Where a record's samples are in the recording.
struct Piece {
    uint64_t offset;  // of the first sample
    uint32_t frames;
};

struct Session {
    std::string path;
    std::vector<Piece> pieces;
    uint64_t frames = 0;
    double rate = 0;
};

// One channel's entry: the pieces converted to float32 volts as libzip reads them. The entry is
// handed over as deflate data made of stored blocks (deflate at level 0: no compression, 5
// bytes of block header per 64 KB) with its CRC-32 computed here, so that libzip copies it as
// it is instead of running its own, much slower, CRC over every byte.
struct ChannelSource {
    static constexpr uint32_t kBlockFloats = 16383;  // 65532 bytes, the most a block holds

    const uint8_t* map = nullptr;  // the recording, mapped
    uint16_t channels = 0;
    uint16_t channel = 0;
    const Session* session = nullptr;
    std::vector<float> lut;  // volts by sample value (as uint16)
    zip_error_t error;

    // Reading state.
    std::size_t piece = 0;
    uint32_t frame = 0;  // next frame of the piece to read
    uint64_t floatsLeft = 0;
    std::vector<float> out;
    std::size_t outBytes = 0, outPos = 0;
    uint8_t head[5] = {};
    int headPos = 5;
    bool finalSent = false;
    uint32_t crc = 0;
    bool crcKnown = false;

    uint64_t size() const { return session->frames * sizeof(float); }
    uint64_t deflatedSize() const {
        const uint64_t floats = session->frames;
        const uint64_t blocks = floats == 0 ? 1 : (floats + kBlockFloats - 1) / kBlockFloats;
        return size() + 5 * blocks;
    }

    // Converts the next block of floats into `out` and sets up its block header.
    bool nextBlock() {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kBlockFloats, floatsLeft));
        out.resize(n);
        const std::size_t frameBytes = 2u * channels;
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
            const uint32_t k = std::min(n - i, p.frames - frame);
            const uint8_t* src =
                map + p.offset + static_cast<uint64_t>(frame) * frameBytes + 2u * channel;
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

    zip_int64_t read(uint8_t* dst, zip_uint64_t len) {
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

    static zip_int64_t Callback(void* user, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        auto* self = static_cast<ChannelSource*>(user);
        switch (cmd) {
            case ZIP_SOURCE_OPEN:
                self->piece = 0;
                self->frame = 0;
                self->floatsLeft = self->session->frames;
                self->outBytes = self->outPos = 0;
                self->headPos = 5;
                self->crc = 0;
                self->crcKnown = false;
                self->finalSent = false;
                if (self->floatsLeft == 0) {  // one empty final block
                    const uint8_t empty[5] = {1, 0, 0, 0xFF, 0xFF};
                    std::memcpy(self->head, empty, 5);
                    self->headPos = 0;
                    self->finalSent = self->crcKnown = true;
                }
                return 0;
            case ZIP_SOURCE_READ:
                return self->read(static_cast<uint8_t*>(data), len);
            case ZIP_SOURCE_CLOSE:
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
};

// The archive's own file, as a writable libzip source: written under a temporary name (see
// StagedFile) in 1 MB writes, renamed into place when libzip commits the archive. (libzip's
// own file source writes through a 4 KB stdio buffer, tens of thousands of write calls for a
// long recording.)
class ArchiveFile {
  public:
    explicit ArchiveFile(std::string path) : path_(std::move(path)) { zip_error_init(&error_); }
    ~ArchiveFile() { zip_error_fini(&error_); }

    static zip_int64_t Callback(void* user, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        return static_cast<ArchiveFile*>(user)->command(data, len, cmd);
    }
    const std::string& failure() const { return failure_; }

  private:
    static constexpr std::size_t kBuffer = 1 << 20;

    zip_int64_t command(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
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
                fd_ = staged_.create(path_, why);
                if (fd_ < 0) return failed(ZIP_ER_OPEN, why);
                pos_ = size_ = 0;
                buf_.clear();
                buf_.reserve(kBuffer);
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
                const zip_int64_t at =
                    zip_source_seek_compute_offset(pos_, size_, data, len, &error_);
                if (at < 0) return -1;
                pos_ = static_cast<uint64_t>(at);
                return 0;
            }
            case ZIP_SOURCE_TELL_WRITE:
                return static_cast<zip_int64_t>(pos_);
            case ZIP_SOURCE_COMMIT_WRITE: {
                if (!flush()) return -1;
                std::string why;
                if (!staged_.commit(why)) return failed(ZIP_ER_RENAME, why);
                fd_ = -1;
                return 0;
            }
            case ZIP_SOURCE_ROLLBACK_WRITE:
                staged_.discard();
                fd_ = -1;
                return 0;
            case ZIP_SOURCE_REMOVE:
                return 0;
            case ZIP_SOURCE_ERROR:
                return zip_error_to_data(&error_, data, len);
            case ZIP_SOURCE_FREE:
                staged_.discard();
                return 0;
            case ZIP_SOURCE_SUPPORTS:
                return ZIP_SOURCE_SUPPORTS_WRITABLE &
                       ~ZIP_SOURCE_MAKE_COMMAND_BITMASK(ZIP_SOURCE_BEGIN_WRITE_CLONING);
            default:
                zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
                return -1;
        }
    }

    bool flush() {
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

    zip_int64_t failed(int code, const std::string& why) {
        failure_ = why;
        zip_error_set(&error_, code, errno);
        return -1;
    }

    std::string path_;
    StagedFile staged_;
    int fd_ = -1;
    uint64_t pos_ = 0, size_ = 0, bufStart_ = 0;
    std::vector<uint8_t> buf_;
    zip_error_t error_;
    std::string failure_;
};

class SigrokExporter final : public Exporter {
  public:
    SigrokExporter(const ExportOptions& o, const std::string& input) : o_(o), input_(input) {}
    ~SigrokExporter() override {
        if (map_ != nullptr) ::munmap(const_cast<uint8_t*>(map_), mapSize_);
    }

    bool begin(const rv8::RecordingHeader& h) override {
        header_ = h;
        // The samples are converted from the file mapped in memory: the first pass (the scan
        // that checks every record) has read the records at these offsets and the file is
        // append-only, so they stay as they were.
        const int fd = ::open(input_.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            const std::string msg = "cannot open " + input_ + ": " + std::strerror(errno);
            if (fd >= 0) ::close(fd);
            return fail(msg);
        }
        mapSize_ = static_cast<std::size_t>(st.st_size);
        void* m =
            mapSize_ == 0 ? MAP_FAILED : ::mmap(nullptr, mapSize_, PROT_READ, MAP_SHARED, fd, 0);
        ::close(fd);
        if (m == MAP_FAILED) return fail("cannot map " + input_ + ": " + std::strerror(errno));
        ::madvise(m, mapSize_, MADV_SEQUENTIAL);
        map_ = static_cast<const uint8_t*>(m);
        session_.path = o_.output;
        return true;
    }

    bool record(const rv8::RecordingRecord& rec) override {
        if (rec.frames == 0) return true;
        const Piece piece{rec.samplesOffset, rec.frames};
        if (o_.split) {
            Session one;
            one.path = SplitName(o_.output, rec.number);
            one.pieces.push_back(piece);
            one.frames = rec.frames;
            one.rate = rec.sampleRate;
            ++sessions_;
            return write(one);
        }
        std::string why;
        if (!rate_.accept(rec, why)) return fail(o_.output + ": " + why);
        session_.pieces.push_back(piece);
        session_.frames += rec.frames;
        session_.rate = rec.sampleRate;
        return true;
    }

    bool finish() override {
        if (o_.split) {
            if (sessions_ == 0) return fail(o_.output + ": the exported records hold no samples");
            return true;
        }
        if (session_.frames == 0) return fail(o_.output + ": the exported records hold no samples");
        return write(session_);
    }

    void abandon() override {}

  private:
    bool write(const Session& s) {
        std::string why;
        const uint64_t rate = WholeRate(s.rate, kMaxSigrokRate, why);
        if (rate == 0) return fail(s.path + ": " + why);
        NoteRounding(s.rate, rate, "sigrok session");
        if (!CheckOutputPath(s.path, input_, why)) return fail(why);

        ArchiveFile file(s.path);
        zip_error_t ze;
        zip_error_init(&ze);
        zip_source_t* target = zip_source_function_create(&ArchiveFile::Callback, &file, &ze);
        zip_t* za = target == nullptr ? nullptr : zip_open_from_source(target, ZIP_TRUNCATE, &ze);
        if (za == nullptr) {
            const std::string msg = s.path + ": " + zip_error_strerror(&ze);
            zip_error_fini(&ze);
            if (target != nullptr) zip_source_free(target);
            return fail(msg);
        }
        zip_error_fini(&ze);
        metadata_ = "[global]\n# written by rv8rec " RV8_VERSION "\n\n[device 1]\nsamplerate=" +
                    std::to_string(rate) +
                    " Hz\ntotal analog=" + std::to_string(header_.channelCount) + "\n";
        for (uint16_t c = 0; c < header_.channelCount; ++c) {
            metadata_ += "analog" + std::to_string(c + 1) + "=CH" + std::to_string(c + 1) + "\n";
        }
        bool ok = add(za, "version", zip_source_buffer(za, "2", 1, 0)) &&
                  add(za, "metadata", zip_source_buffer(za, metadata_.data(), metadata_.size(), 0));
        for (uint16_t c = 0; ok && c < header_.channelCount; ++c) {
            auto* src = new ChannelSource;
            src->map = map_;
            src->channels = header_.channelCount;
            src->channel = c;
            const rv8::ChannelRange range =
                c < header_.ranges.size() ? header_.ranges[c] : rv8::ChannelRange{};
            src->lut.resize(65536);
            for (uint32_t u = 0; u < 65536; ++u) {
                const double v = static_cast<int16_t>(static_cast<uint16_t>(u));
                src->lut[u] = static_cast<float>((range.upper + range.lower) / 2 +
                                                 v * ((range.upper - range.lower) / 2) / 32768.0);
            }
            src->session = &s;
            zip_error_init(&src->error);
            zip_source_t* zs = zip_source_function(za, &ChannelSource::Callback, src);
            if (zs == nullptr) {
                zip_error_fini(&src->error);
                delete src;
                ok = false;
                break;
            }
            ok = add(za, ("analog-1-" + std::to_string(c + 1) + "-1").c_str(), zs, ZIP_CM_DEFLATE);
        }
        if (ok && zip_close(za) == 0) return true;  // zip_close frees `target`
        const std::string msg =
            s.path + ": " + (file.failure().empty() ? zip_strerror(za) : file.failure());
        zip_discard(za);  // frees `target`, which removes the temporary file
        return fail(msg);
    }

    // Adds an entry; the archive owns the source from here on.
    static bool add(zip_t* za, const char* name, zip_source_t* src,
                    zip_int32_t method = ZIP_CM_STORE) {
        if (src == nullptr) return false;
        const zip_int64_t index = zip_file_add(za, name, src, ZIP_FL_OVERWRITE);
        if (index < 0) {
            zip_source_free(src);
            return false;
        }
        return zip_set_file_compression(za, static_cast<zip_uint64_t>(index), method, 0) == 0;
    }

    ExportOptions o_;
    std::string input_;
    rv8::RecordingHeader header_;
    const uint8_t* map_ = nullptr;
    std::size_t mapSize_ = 0;
    Session session_;
    OneRate rate_;
    uint64_t sessions_ = 0;
    std::string metadata_;
};

}  // namespace

std::unique_ptr<Exporter> MakeSigrokExporter(const ExportOptions& options,
                                             const std::string& input) {
    return std::make_unique<SigrokExporter>(options, input);
}

}  // namespace rv8rec
