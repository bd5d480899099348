// Helpers shared by the reliability tests: the simulator loaded through the program's own
// loader, running the command-line reader, resident memory and a process-wide file-size limit.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QString>

#include "driver/Rv8Library.h"
#include "tests/support/Sanitizers.h"

namespace rv8::testing {

inline const char* const kSimVariables[] = {
    "RV8SIM_SERIAL", "RV8SIM_CALDATE", "RV8SIM_MAX_FREQ",     "RV8SIM_MAX_RECLEN",
    "RV8SIM_SENS1",  "RV8SIM_SENS2",   "RV8SIM_CH1",          "RV8SIM_CH2",
    "RV8SIM_ACQ_MS", "RV8SIM_TRACE",   "RV8SIM_START_RESULT",
};

// Sets exactly these simulator options (measurements never wait unless asked to); they take
// effect at the next InitInstrument, which Form_Load calls.
inline void SetSimOptions(std::map<std::string, std::string> env) {
    for (const char* name : kSimVariables)
        unsetenv(name);
    env.emplace("RV8SIM_ACQ_MS", "0");
    for (const auto& [name, value] : env)
        setenv(name.c_str(), value.c_str(), 1);
}

inline std::unique_ptr<Rv8Library> LoadSimulator() {
    return std::make_unique<Rv8Library>(
        QStringList{qEnvironmentVariable("RV8_SIM_DIR") + QStringLiteral("/librv8.so")});
}

// Exit status of `rv8rec verify FILE` (-1 when it did not run or did not exit normally).
inline int VerifyWithCli(const QString& file) {
    QProcess p;
    p.start(qEnvironmentVariable("RV8_BIN_DIR") + QStringLiteral("/rv8rec"),
            {QStringLiteral("verify"), file});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit) return -1;
    return p.exitCode();
}

// Resident memory of this process in KiB.
inline long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

// Limits the size of files this process writes (RLIMIT_FSIZE) until destroyed.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ok_ = getrlimit(RLIMIT_FSIZE, &old_) == 0;
        rlimit small = old_;
        small.rlim_cur = bytes;
        ok_ = ok_ && setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() { release(); }
    void release() {
        if (ok_) setrlimit(RLIMIT_FSIZE, &old_);
        ok_ = false;
    }
    bool ok() const { return ok_; }

  private:
    rlimit old_{};
    bool ok_ = false;
};

// Processes events until `done` holds or `ms` have passed; returns `done()`.
template <typename F>
bool ProcessUntil(F done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

}  // namespace rv8::testing
