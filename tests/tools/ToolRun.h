// Runs a command line for the tool tests and collects its standard output and exit status.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace rv8::testing {

struct ToolRun {
    int status = -1;  // exit status, or -1 when the command did not exit normally
    std::string out;
};

inline ToolRun RunTool(const std::string& command) {
    ToolRun run;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return run;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        run.out.append(buf, n);
    const int st = ::pclose(pipe);
    if (st != -1 && WIFEXITED(st)) run.status = WEXITSTATUS(st);
    return run;
}

// Single quotes for the shell.
inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::string(v) : fallback;
}

}  // namespace rv8::testing
