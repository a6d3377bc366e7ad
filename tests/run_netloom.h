// Runs the built netloom executable and captures what it prints.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace nltest {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// `env` entries are "NAME=value" prefixes for the command.
inline RunResult runNetloom(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    char outName[] = "/tmp/netloom_out_XXXXXX";
    char errName[] = "/tmp/netloom_err_XXXXXX";
    int fo = mkstemp(outName), fe = mkstemp(errName);
    if (fo >= 0) close(fo);
    if (fe >= 0) close(fe);
    std::string cmd;
    for (const std::string& e : env) cmd += e + " ";
    cmd += shellQuote(NETLOOM_BINARY);
    for (const std::string& a : args) cmd += " " + shellQuote(a);
    cmd += " </dev/null >" + std::string(outName) + " 2>" + std::string(errName);
    RunResult r;
    int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp(outName);
    r.err = slurp(errName);
    std::remove(outName);
    std::remove(errName);
    return r;
}

}  // namespace nltest
