// The simulated driver library: every function of the instrument driver, with C linkage and the
// same names, over one process-wide SimInstrument. Its options come from the RV8SIM_*
// environment variables, read at every InitInstrument; before the first one the defaults hold.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "driver/rv8_api.h"
#include "sim/SimInstrument.h"

namespace {

using rv8::sim::SimInstrument;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

class Library {
  public:
    // Calls fn on the instrument under the lock; with readOptions, reads the options first.
    template <bool readOptions, typename Fn>
    auto call(Fn fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        if constexpr (readOptions) reload();
        return fn(instrument_);
    }

  private:
    // Reads the options again and opens their trace file; they take effect with the
    // InitInstrument that follows. Called with the mutex held.
    void reload() {
        std::vector<std::string> warnings;
        rv8::sim::SimOptions options = rv8::sim::OptionsFromEnvironment(
            [](const char* name) { return std::getenv(name); }, &warnings);
        for (const std::string& w : warnings)
            std::fprintf(stderr, "rv8 simulator: %s\n", w.c_str());
        instrument_.setOptions(options);
        openTrace(options.tracePath);
    }

    void openTrace(const std::string& path) {
        if (trace_ && path == tracePath_) return;  // keep appending to the same file
        tracePath_ = path;
        trace_.reset(path.empty() ? nullptr : std::fopen(path.c_str(), "a"));
        if (!path.empty() && !trace_) {
            std::fprintf(stderr, "rv8 simulator: cannot open the trace file %s\n", path.c_str());
        }
        if (!trace_) {
            instrument_.setTraceSink(nullptr);
            return;
        }
        std::FILE* file = trace_.get();
        instrument_.setTraceSink([file](const std::string& line) {
            std::fputs(line.c_str(), file);
            std::fputc('\n', file);
            std::fflush(file);  // readable at once by whoever watches the program
        });
    }

    std::mutex mutex_;
    SimInstrument instrument_;
    std::string tracePath_;
    std::unique_ptr<std::FILE, FileCloser> trace_;
};

// InitInstrument reads the options again before the instrument powers up.
constexpr bool ReadsOptions(std::string_view name) {
    return name == "InitInstrument";
}

Library& Lib() {
    static Library library;
    return library;
}

}  // namespace

extern "C" {

// Each function calls the instrument's member of the same name under the lock, e.g.
//   RV8_EXPORT void GetSensitivity(int32_t channel, double* volts) {
//       return Lib().call<false>(
//           [&](SimInstrument& s) { return s.GetSensitivity(channel, volts); });
//   }
#define RV8_SIM_EXPORT(Result, Name, ...)                                     \
    RV8_EXPORT Result Name(RV8_C_PARAMS(__VA_ARGS__)) {                       \
        return Lib().call<ReadsOptions(#Name)>(                               \
            [&](SimInstrument& s) { return s.Name(RV8_ARGS(__VA_ARGS__)); }); \
    }
RV8_FUNCTIONS(RV8_SIM_EXPORT)
#undef RV8_SIM_EXPORT

}  // extern "C"
