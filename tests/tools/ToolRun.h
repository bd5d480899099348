// Runs a command line for the tool tests and collects its standard output, its standard error
// and its exit status.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace rv8::testing {

struct ToolRun {
    int status = -1;  // exit status, or -1 when the command did not exit normally
    std::string out;
    std::string err;
};

// Single quotes for the shell.
inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline ToolRun RunTool(const std::string& command) {
    ToolRun run;
    char errName[] = "/tmp/rv8tool-err-XXXXXX";
    const int errFd = ::mkstemp(errName);
    if (errFd < 0) return run;
    ::close(errFd);
    FILE* pipe = ::popen(("{ " + command + "; } 2>" + Quote(errName)).c_str(), "r");
    if (pipe != nullptr) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
            run.out.append(buf, n);
        const int st = ::pclose(pipe);
        if (st != -1 && WIFEXITED(st)) run.status = WEXITSTATUS(st);
    }
    std::ifstream err(errName, std::ios::binary);
    run.err.assign(std::istreambuf_iterator<char>(err), {});
    ::unlink(errName);
    return run;
}

inline std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::string(v) : fallback;
}

}  // namespace rv8::testing
