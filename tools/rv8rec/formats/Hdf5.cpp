// rv8rec export --format h5: an HDF5 file (HDF5 C library) with the header's settings as
// attributes of the root group and one group per record, /records/000000, /records/000001, ...
// holding the record's attributes and its samples as stored, int16 of shape (frames, channels).
// Volts: offset_volts[c] + samples[:, c] * volts_per_unit[c] (root attributes). The layout is
// described in docs/exports.md.
#include <hdf5.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "tools/rv8rec/Common.h"
#include "tools/rv8rec/Settings.h"

namespace rv8rec {

namespace {

// The text with every byte sequence that is not UTF-8 replaced by U+FFFD, so that readers that
// decode strictly (h5py) accept it. The writer stores whole characters; this guards against
// a file damaged in a way the CRC can't tell.
std::string ValidUtf8(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        std::size_t len = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
        bool ok = len > 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k)
            ok = (p[i + k] & 0xC0) == 0x80;
        if (ok && len > 1) {
            uint32_t cp = c & (0x7F >> len);
            for (std::size_t k = 1; k < len; ++k)
                cp = (cp << 6) | (p[i + k] & 0x3F);
            static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
            ok = cp >= kMin[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        }
        if (ok) {
            out.append(s, i, len);
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

// What the HDF5 error stack of this thread says went wrong: the system's reason when a read or
// write of the file failed ("No space left on device"), else the description of the call that
// failed.
std::string Hdf5Message() {
    struct Found {
        std::string outer, system;
    } found;
    H5Ewalk2(
        H5E_DEFAULT, H5E_WALK_DOWNWARD,
        [](unsigned n, const H5E_error2_t* e, void* data) -> herr_t {
            auto* f = static_cast<Found*>(data);
            if (e->desc == nullptr) return 0;
            const std::string desc = e->desc;
            if (n == 0) f->outer = desc;
            const std::string key = "error message = '";
            const std::size_t at = desc.find(key);
            if (at != std::string::npos && f->system.empty()) {
                const std::size_t end = desc.find('\'', at + key.size());
                f->system =
                    desc.substr(at + key.size(), end == std::string::npos ? std::string::npos
                                                                          : end - at - key.size());
            }
            return 0;
        },
        &found);
    if (!found.system.empty()) return found.system;
    return found.outer.empty() ? std::string("HDF5 error") : found.outer;
}

// The message of the last HDF5 failure in this thread, taken when the call failed (before the
// calls that clean up clear the error stack).
thread_local std::string t_lastError;

bool Failed() {
    t_lastError = Hdf5Message();
    return false;
}

// HDF5 prints its error stack on stderr unless told not to, once per thread (the library keeps
// that setting per thread; the records are written by the exporter's worker thread).
void QuietErrors() {
    thread_local bool quiet = false;
    if (quiet) return;
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    quiet = true;
}

class Hdf5Exporter final : public Exporter {
  public:
    Hdf5Exporter(const ExportOptions& o, const std::string& input) : o_(o), input_(input) {}
    ~Hdf5Exporter() override { abandon(); }

    bool begin(const rv8::RecordingHeader& h) override {
        // No clean-up of the library at exit: after a failed write (a full disk) HDF5 keeps the
        // file it could not close in its list, and closing it again at exit crashed. The
        // process ends right after an export anyway.
        H5dont_atexit();
        QuietErrors();
        channels_ = h.channelCount;
        const int fd = out_.open(o_.output, input_, o_.format->output, error_);
        if (fd < 0) return false;
        ::close(fd);
        // HDF5 creates the file itself, under the name just reserved: a file it had to truncate
        // instead would be written back to the disk as it is closed (what ext4 does for a
        // file replaced by truncation), a wait that no other export has.
        ::unlink(out_.tempPath().c_str());
        // The file format of HDF5 1.8 and later (what h5py, MATLAB and h5dump read): compact
        // groups and attributes, far less metadata for thousands of records.
        const hid_t fapl = H5Pcreate(H5P_FILE_ACCESS);
        H5Pset_libver_bounds(fapl, H5F_LIBVER_V18, H5F_LIBVER_LATEST);
        file_ = H5Fcreate(out_.tempPath().c_str(), H5F_ACC_EXCL, H5P_DEFAULT, fapl);
        if (file_ < 0) Failed();
        H5Pclose(fapl);
        if (file_ < 0) return hdf5Failed();
        // The samples are written whole: no fill values first.
        dcpl_ = H5Pcreate(H5P_DATASET_CREATE);
        H5Pset_fill_time(dcpl_, H5D_FILL_TIME_NEVER);
        H5Pset_alloc_time(dcpl_, H5D_ALLOC_TIME_LATE);

        std::vector<double> upper, lower, perUnit, offset;
        std::vector<std::string> names;
        for (uint16_t c = 0; c < channels_; ++c) {
            const rv8::ChannelRange r = c < h.ranges.size() ? h.ranges[c] : rv8::ChannelRange{};
            upper.push_back(r.upper);
            lower.push_back(r.lower);
            perUnit.push_back((r.upper - r.lower) / 2 / 32768.0);
            offset.push_back((r.upper + r.lower) / 2);
            names.push_back("CH" + std::to_string(c + 1));
        }
        const bool ok =
            text(file_, "source_file", input_) &&
            scalar(file_, "format_version", H5T_STD_U16LE, H5T_NATIVE_UINT16, &h.version) &&
            scalar(file_, "sample_rate", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, &h.sampleRate) &&
            scalar(file_, "channel_count", H5T_STD_U16LE, H5T_NATIVE_UINT16, &h.channelCount) &&
            texts(file_, "channel_names", names) && doubles(file_, "range_upper_volts", upper) &&
            doubles(file_, "range_lower_volts", lower) &&
            doubles(file_, "volts_per_unit", perUnit) && doubles(file_, "offset_volts", offset) &&
            scalar(file_, "creation_time_us", H5T_STD_I64LE, H5T_NATIVE_INT64, &h.creationTimeUs) &&
            text(file_, "creation_time", IsoTime(h.creationTimeUs));
        if (!ok) return hdf5Failed();
        records_ = H5Gcreate2(file_, "records", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        return records_ >= 0 || Failed() || hdf5Failed();
    }

    bool record(const rv8::RecordingRecord& rec) override {
        QuietErrors();
        char name[16];
        std::snprintf(name, sizeof name, "%06u", rec.number);
        const hid_t g = H5Gcreate2(records_, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        if (g < 0) return Failed() || hdf5Failed();
        bool ok = scalar(g, "number", H5T_STD_U32LE, H5T_NATIVE_UINT32, &rec.number) &&
                  scalar(g, "time_us", H5T_STD_I64LE, H5T_NATIVE_INT64, &rec.timeUs) &&
                  text(g, "time", IsoTime(rec.timeUs)) &&
                  scalar(g, "sample_rate", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, &rec.sampleRate) &&
                  scalar(g, "event_mark", H5T_STD_I32LE, H5T_NATIVE_INT32, &rec.eventMark) &&
                  text(g, "comment", ValidUtf8(rec.comment)) &&
                  scalar(g, "frames", H5T_STD_U32LE, H5T_NATIVE_UINT32, &rec.frames) &&
                  settings(g, rec);
        if (ok) {
            const hsize_t dims[2] = {rec.frames, channels_};
            const hid_t space = H5Screate_simple(2, dims, nullptr);
            const hid_t ds = space < 0 ? -1
                                       : H5Dcreate2(g, "samples", H5T_STD_I16LE, space, H5P_DEFAULT,
                                                    dcpl_, H5P_DEFAULT);
            ok = ds >= 0 && (rec.frames == 0 || H5Dwrite(ds, H5T_NATIVE_INT16, H5S_ALL, H5S_ALL,
                                                         H5P_DEFAULT, rec.samples.data()) >= 0);
            if (!ok) Failed();
            if (ds >= 0) H5Dclose(ds);
            if (space >= 0) H5Sclose(space);
        }
        H5Gclose(g);
        if (!ok) return hdf5Failed();
        ++count_;
        return true;
    }

    bool finish() override {
        QuietErrors();
        if (!scalar(file_, "record_count", H5T_STD_U64LE, H5T_NATIVE_UINT64, &count_)) {
            return hdf5Failed();
        }
        H5Gclose(records_);
        records_ = -1;
        H5Pclose(dcpl_);
        dcpl_ = -1;
        const herr_t rc = H5Fclose(file_);
        file_ = -1;
        if (rc < 0) return Failed() || hdf5Failed();
        return out_.commit(error_, true);
    }

    void abandon() override {
        QuietErrors();
        if (dcpl_ >= 0) H5Pclose(dcpl_);
        dcpl_ = -1;
        if (records_ >= 0) H5Gclose(records_);
        if (file_ >= 0) H5Fclose(file_);
        records_ = file_ = -1;
        out_.discard(true);
    }

  private:
    bool hdf5Failed() {
        const std::string why = t_lastError.empty() ? Hdf5Message() : t_lastError;
        t_lastError.clear();
        return fail(o_.output + ": " + why);
    }

    // The acquisition's settings as attributes of the record's group: unknown values (every one
    // in a version 1 file) as -1, NaN or "unknown". Per-channel arrays cover the first two
    // channels, the ones the settings describe.
    bool settings(hid_t g, const rv8::RecordingRecord& rec) const {
        const rv8::Acquisition& a = rec.acquisition;
        std::vector<double> sensitivity, level, hysteresis;
        std::vector<std::string> coupling;
        std::vector<uint8_t> measured;
        for (std::size_t c = 0; c < std::min<std::size_t>(channels_, 2); ++c) {
            sensitivity.push_back(a.channel[c].sensitivity);
            level.push_back(a.channel[c].triggerLevel);
            hysteresis.push_back(a.channel[c].triggerHysteresis);
            coupling.push_back(CouplingName(a.channel[c].coupling));
            measured.push_back(a.measured(static_cast<int>(c)) ? 1 : 0);
        }
        const hsize_t n = measured.size();
        return scalar(g, "acquisition", H5T_STD_U32LE, H5T_NATIVE_UINT32, &a.number) &&
               scalar(g, "written_us", H5T_STD_I64LE, H5T_NATIVE_INT64, &rec.writtenUs) &&
               scalar(g, "record_length", H5T_STD_I32LE, H5T_NATIVE_INT32, &a.recordLength) &&
               scalar(g, "post_samples", H5T_STD_I32LE, H5T_NATIVE_INT32, &a.postSamples) &&
               text(g, "measure_mode", MeasureModeName(a.measureMode)) &&
               text(g, "trigger_source", TriggerSourceName(a.triggerSource)) &&
               text(g, "trigger_slope", SlopeName(a.triggerSlope)) &&
               doubles(g, "sensitivity_volts", sensitivity) && texts(g, "coupling", coupling) &&
               doubles(g, "trigger_level_volts", level) &&
               doubles(g, "trigger_hysteresis_volts", hysteresis) &&
               attribute(g, "measured", H5T_STD_U8LE, H5T_NATIVE_UINT8,
                         H5Screate_simple(1, &n, nullptr), measured.data());
    }

    static bool attribute(hid_t loc, const char* name, hid_t fileType, hid_t memType, hid_t space,
                          const void* value) {
        if (space < 0) return false;
        const hid_t a = H5Acreate2(loc, name, fileType, space, H5P_DEFAULT, H5P_DEFAULT);
        const bool ok = (a >= 0 && H5Awrite(a, memType, value) >= 0) || Failed();
        if (a >= 0) H5Aclose(a);
        H5Sclose(space);
        return ok;
    }

    static bool scalar(hid_t loc, const char* name, hid_t fileType, hid_t memType,
                       const void* value) {
        return attribute(loc, name, fileType, memType, H5Screate(H5S_SCALAR), value);
    }

    static bool doubles(hid_t loc, const char* name, const std::vector<double>& v) {
        const hsize_t n = v.size();
        return attribute(loc, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE,
                         H5Screate_simple(1, &n, nullptr), v.data());
    }

    // Variable-length UTF-8 strings (h5py reads them as str).
    static bool strings(hid_t loc, const char* name, const std::vector<std::string>& v,
                        bool scalarSpace) {
        const hid_t type = H5Tcopy(H5T_C_S1);
        if (type < 0) return false;
        H5Tset_size(type, H5T_VARIABLE);
        H5Tset_cset(type, H5T_CSET_UTF8);
        std::vector<const char*> ptrs;
        for (const std::string& s : v)
            ptrs.push_back(s.c_str());
        const hsize_t n = v.size();
        const hid_t space = scalarSpace ? H5Screate(H5S_SCALAR) : H5Screate_simple(1, &n, nullptr);
        const bool ok = attribute(loc, name, type, type, space, ptrs.data());
        H5Tclose(type);
        return ok;
    }
    static bool text(hid_t loc, const char* name, const std::string& s) {
        if (s.find('\0') != std::string::npos) return bytes(loc, name, s);
        return strings(loc, name, {s}, true);
    }
    // A text holding a NUL character, which would end a variable-length string: a UTF-8 string
    // of exactly its bytes (h5py reads it as bytes).
    static bool bytes(hid_t loc, const char* name, const std::string& s) {
        const hid_t type = H5Tcopy(H5T_C_S1);
        if (type < 0) return Failed();
        H5Tset_size(type, s.size());
        H5Tset_strpad(type, H5T_STR_NULLPAD);
        H5Tset_cset(type, H5T_CSET_UTF8);
        const bool ok = attribute(loc, name, type, type, H5Screate(H5S_SCALAR), s.data());
        H5Tclose(type);
        return ok;
    }
    static bool texts(hid_t loc, const char* name, const std::vector<std::string>& v) {
        return strings(loc, name, v, false);
    }

    ExportOptions o_;
    std::string input_;
    OutputFile out_;
    uint16_t channels_ = 0;
    hid_t file_ = -1, records_ = -1, dcpl_ = -1;
    uint64_t count_ = 0;
};

}  // namespace

std::unique_ptr<Exporter> MakeHdf5Exporter(const ExportOptions& options, const std::string& input) {
    return MakeThreadedExporter(std::make_unique<Hdf5Exporter>(options, input));
}

}  // namespace rv8rec
