// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeFFmpeg.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/TempDir.h"

namespace kolvex::testing {

namespace fs = std::filesystem;

namespace {

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string quoted(const fs::path& path) {
    std::string text = "'";
    for (char c : path.string()) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

}  // namespace

FakeFFmpeg::FakeFFmpeg(const fs::path& folder) : m_folder(folder) {
    fs::create_directories(folder);
    for (const char* program : {"ffmpeg"}) {
        const fs::path dir = state(program);
        fs::create_directories(dir);
        const std::string d = quoted(dir);
        writeText(folder / program,
                  "#!/bin/sh\n"
                  "d=" + d + "\n"
                  ": > \"$d/args\"\n"
                  "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$d/args\"; done\n"
                  "echo x >> \"$d/runs\"\n"
                  "[ -f \"$d/stdout\" ] && cat \"$d/stdout\"\n"
                  "[ -f \"$d/stderr\" ] && cat \"$d/stderr\" >&2\n"
                  "if [ -f \"$d/output\" ]; then for last; do :; done; cat \"$d/output\" > \"$last\"; fi\n"
                  "if [ -f \"$d/hang\" ]; then echo started; exec sleep 30; fi\n"
                  "[ -f \"$d/exit\" ] && exit \"$(cat \"$d/exit\")\"\n"
                  "exit 0\n");
        fs::permissions(folder / program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    }
}

void FakeFFmpeg::setStandardOutput(const std::string& program, const std::string& text) const {
    writeText(state(program) / "stdout", text);
}
void FakeFFmpeg::setStandardError(const std::string& program, const std::string& text) const {
    writeText(state(program) / "stderr", text);
}
void FakeFFmpeg::setExitCode(const std::string& program, int code) const {
    writeText(state(program) / "exit", std::to_string(code));
}
void FakeFFmpeg::setWritesOutput(const std::string& program, const std::string& bytes) const {
    writeText(state(program) / "output", bytes);
}
void FakeFFmpeg::setHangs(const std::string& program) const { writeText(state(program) / "hang", ""); }

std::vector<std::string> FakeFFmpeg::lastArguments(const std::string& program) const {
    std::vector<std::string> arguments;
    std::istringstream lines(readFile(state(program) / "args"));
    for (std::string line; std::getline(lines, line);) arguments.push_back(line);
    return arguments;
}

int FakeFFmpeg::runCount(const std::string& program) const {
    const std::string runs = readFile(state(program) / "runs");
    return static_cast<int>(std::count(runs.begin(), runs.end(), '\n'));
}

}  // namespace kolvex::testing
