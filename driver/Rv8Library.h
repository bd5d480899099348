// The driver library loaded by name ("rv8": librv8.so here, rv8.dll on Windows). The folder of
// the executable is searched first, then the system's library search path. Each function is
// resolved on its first call; a missing library or function throws DriverUnavailable with a
// message that names what was tried.
#pragma once

#include <QLibrary>
#include <QStringList>

#include "driver/Rv8Driver.h"
#include "driver/rv8_api.h"

namespace rv8 {

// Rv8Driver's functions, e.g.  void GetSensitivity(int32_t channel, double& volts) override;
#define RV8_OVERRIDE(Result, Name, ...) Result Name(RV8_CPP_PARAMS(__VA_ARGS__)) override;

class Rv8Library final : public Rv8Driver {
  public:
    // Loads the library; `candidates` are tried in order (each a path or a bare name that the
    // loader completes with the platform's prefix and suffix). Throws DriverUnavailable.
    explicit Rv8Library(const QStringList& candidates = DefaultCandidates());
    ~Rv8Library() override;

    static QStringList DefaultCandidates();
    QString fileName() const { return lib_.fileName(); }

    RV8_FUNCTIONS(RV8_OVERRIDE)

  private:
    template <typename Fn>
    Fn* resolve(Fn*& slot, const char* name);

    QLibrary lib_;
    struct Table;  // resolved function pointers, null until first use
    Table* fns_;
};

#undef RV8_OVERRIDE

}  // namespace rv8
