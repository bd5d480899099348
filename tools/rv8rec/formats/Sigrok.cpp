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
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

#include "tools/rv8rec/formats/Sigrok.h"

namespace rv8rec {

namespace {

using sigrok::ArchiveFile;
using sigrok::ChannelSource;
using sigrok::Piece;
using sigrok::Session;

constexpr uint64_t kMaxSigrokRate = 1000000000000000ull;  // 1 PHz: far beyond any instrument
// Each channel's entry reads the samples of every channel once more, so a session of C channels
// reads the recording C times: more channels than this are refused.
constexpr uint16_t kMaxSigrokChannels = 64;

class SigrokExporter final : public Exporter {
  public:
    SigrokExporter(const ExportOptions& o, const std::string& input) : o_(o), input_(input) {}
    ~SigrokExporter() override {
        if (fd_ >= 0) ::close(fd_);
    }

    bool begin(const rv8::RecordingHeader& h) override {
        header_ = h;
        if (h.channelCount > kMaxSigrokChannels) {
            return fail(o_.output + ": the recording has " + std::to_string(h.channelCount) +
                        " channels; a sigrok session is written for at most " +
                        std::to_string(kMaxSigrokChannels) +
                        " (each channel's entry reads the recording once more)");
        }
        // The samples are read again from the file while the archive is written: the first
        // pass (the scan that checks every record) has read the records at these offsets and
        // the file is append-only, so they stay as they were, unless someone cuts the file
        // meanwhile, which ends the export with a read error.
        fd_ = ::open(input_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return fail("cannot open " + input_ + ": " + std::strerror(errno));
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
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
            return batch_.publish(error_);
        }
        if (session_.frames == 0) return fail(o_.output + ": the exported records hold no samples");
        return write(session_);
    }

    void abandon() override { batch_.discard(); }

  private:
    bool write(const Session& s) {
        std::string why;
        const uint64_t rate = WholeRate(s.rate, kMaxSigrokRate, why);
        if (rate == 0) return fail(s.path + ": " + why);
        NoteRounding(s.rate, rate, "sigrok session");
        if (!CheckOutputPath(s.path, input_, why)) return fail(why);

        ArchiveFile file(s.path, input_, o_.split ? &batch_ : nullptr);
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
            src->fd = fd_;
            src->channels = header_.channelCount;
            src->channel = c;
            src->lut = lut(c);
            src->failure = &readFailure_;
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
        readFailure_.clear();
        if (ok && zip_close(za) == 0) return true;  // zip_close frees `target`
        const std::string msg = !file.failure().empty() ? file.failure()
                                : !readFailure_.empty() ? s.path + ": " + readFailure_
                                                        : s.path + ": " + zip_strerror(za);
        zip_discard(za);  // frees `target`, which removes the temporary file
        return fail(msg);
    }

    // Volts by sample value (as uint16) for channel c, made when a session first needs it and
    // kept for the next ones (--split): 256 KB per channel, at most kMaxSigrokChannels.
    const float* lut(uint16_t c) {
        if (luts_.size() <= c) luts_.resize(c + 1u);
        std::vector<float>& t = luts_[c];
        if (t.empty()) {
            const rv8::ChannelRange range =
                c < header_.ranges.size() ? header_.ranges[c] : rv8::ChannelRange{};
            t.resize(65536);
            for (uint32_t u = 0; u < 65536; ++u) {
                const double v = static_cast<int16_t>(static_cast<uint16_t>(u));
                t[u] = static_cast<float>((range.upper + range.lower) / 2 +
                                          v * ((range.upper - range.lower) / 2) / 32768.0);
            }
        }
        return t.data();
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
    int fd_ = -1;
    std::string readFailure_;
    std::vector<std::vector<float>> luts_;
    OutputBatch batch_;  // --split: every session renamed into place at the end
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
