// rv8rec export --format wav | flac: the samples as stored (signed 16-bit), one audio channel
// per recording channel, at the records' sample rate, written with libsndfile.
//
// WAV is written as RF64 that libsndfile turns into a plain WAV file when it stays under 4 GB,
// so long recordings still fit. Audio files hold one whole-hertz rate: the records of one file
// must share a rate, which is rounded to whole hertz (with a note) when it has a fraction; a
// rate below 0.5 Hz or not a number is refused. --split writes one file per record instead.
#include <sndfile.h>

#include <climits>

#include "tools/rv8rec/Common.h"

namespace rv8rec {

namespace {

class AudioExporter final : public Exporter {
  public:
    AudioExporter(const ExportOptions& o, const std::string& input, bool flac)
        : o_(o), input_(input), flac_(flac) {}
    ~AudioExporter() override { abandon(); }

    bool begin(const rv8::RecordingHeader& h) override {
        channels_ = h.channelCount;
        // libsndfile's limits, said plainly instead of its "Format not recognised".
        const uint16_t most = flac_ ? 8 : 1024;
        if (channels_ > most) {
            return fail(o_.output + ": the recording has " + std::to_string(channels_) +
                        " channels; a " + (flac_ ? "FLAC" : "WAV") + " file holds at most " +
                        std::to_string(most));
        }
        return true;
    }

    bool record(const rv8::RecordingRecord& rec) override {
        if (rec.frames == 0) return true;
        if (o_.split) {
            if (!open(SplitName(o_.output, rec.number), rec.sampleRate, &rec)) return false;
            ++files_;
            return write(rec) && close();
        }
        std::string why;
        if (!rate_.accept(rec, why)) return fail(o_.output + ": " + why);
        if (file_ == nullptr && !open(o_.output, rec.sampleRate, nullptr)) return false;
        return write(rec);
    }

    bool finish() override {
        if (o_.split ? files_ == 0 : file_ == nullptr) {
            return fail(o_.output + ": the exported records hold no samples");
        }
        return o_.split ? batch_.publish(error_) : close();
    }

    void abandon() override {
        if (file_ != nullptr) sf_close(file_);
        file_ = nullptr;
        out_.discard(true);
        batch_.discard();
    }

  private:
    bool open(const std::string& path, double rate, const rv8::RecordingRecord* only) {
        std::string why;
        const uint64_t whole = WholeRate(rate, INT_MAX, why);
        if (whole == 0) return fail(path + ": " + why);
        const bool flac = flac_;
        NoteRounding(rate, whole, flac ? "FLAC" : "WAV");
        const int fd =
            out_.open(path, input_, o_.format->output, why, o_.split ? &batch_ : nullptr);
        if (fd < 0) return fail(why);
        SF_INFO info{};
        info.samplerate = static_cast<int>(whole);
        info.channels = channels_;
        info.format = (flac ? SF_FORMAT_FLAC : SF_FORMAT_RF64) | SF_FORMAT_PCM_16;
        file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
        if (file_ == nullptr) {
            const std::string msg = path + ": " + sf_strerror(nullptr) + " (" +
                                    std::to_string(channels_) + " channels at " +
                                    std::to_string(whole) + " Hz)";
            out_.discard(true);  // sf_open_fd closed the descriptor
            return fail(msg);
        }
        if (!flac) sf_command(file_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
        sf_set_string(file_, SF_STR_SOFTWARE, "rv8rec " RV8_VERSION);
        if (only != nullptr) {
            if (!only->comment.empty()) sf_set_string(file_, SF_STR_COMMENT, only->comment.c_str());
            sf_set_string(file_, SF_STR_DATE, IsoTime(only->timeUs).c_str());
        }
        path_ = path;
        return true;
    }

    bool write(const rv8::RecordingRecord& rec) {
        const sf_count_t n = sf_writef_short(file_, rec.samples.data(), rec.frames);
        if (n != static_cast<sf_count_t>(rec.frames)) {
            return fail(path_ + ": cannot write: " + sf_strerror(file_));
        }
        return true;
    }

    bool close() {
        const int rc = sf_close(file_);
        file_ = nullptr;
        if (rc != 0) {
            out_.discard(true);
            return fail(path_ + ": cannot write: " + sf_error_number(rc));
        }
        return out_.commit(error_, true);
    }

    ExportOptions o_;
    std::string input_;
    bool flac_;
    uint16_t channels_ = 0;
    SNDFILE* file_ = nullptr;
    OutputFile out_;
    OutputBatch batch_;  // --split: every file renamed into place at the end
    std::string path_;
    OneRate rate_;
    uint64_t files_ = 0;
};

}  // namespace

std::unique_ptr<Exporter> MakeWavExporter(const ExportOptions& options, const std::string& input) {
    return MakeThreadedExporter(std::make_unique<AudioExporter>(options, input, false));
}

std::unique_ptr<Exporter> MakeFlacExporter(const ExportOptions& options, const std::string& input) {
    return MakeThreadedExporter(std::make_unique<AudioExporter>(options, input, true));
}

}  // namespace rv8rec
