// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's file chooser in a Qt program of its own, for tests and the bench:
//
//   file-chooser-host files|folder START_FOLDER [--until-listed COUNT | --report-listed COUNT]
//
// START_FOLDER may be given as "hex:" and its bytes in hexadecimal, for a name that is not UTF-8
// (a program's arguments pass through text on their way from a Qt parent).
// Shows the chooser at START_FOLDER and prints "shown". When the user answers it prints one line
// "chosen HEX" per name (the name's bytes in hexadecimal), then "answered N" and exits. With
// --until-listed it instead waits until the chooser lists COUNT entries, prints "listed COUNT in
// SECONDS s" and withdraws it; with --report-listed it prints the same line and leaves the
// chooser up for the user. Either way it prints "longest-stall MILLISECONDS ms": the longest
// the event loop went without turning while the chooser was up (a 5 ms timer ticks throughout).
#include <chrono>
#include <cstdio>
#include <string>

#include <QApplication>
#include <QTimer>

#include "FileChooserProbe.h"
#include "app/GtkFileChooser.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) return 2;
    const bool folder = std::string(argv[1]) == "folder";
    std::string startBytes = argv[2];
    if (startBytes.rfind("hex:", 0) == 0) {
        std::string bytes;
        for (size_t i = 4; i + 1 < startBytes.size(); i += 2) bytes += static_cast<char>(std::stoi(startBytes.substr(i, 2), nullptr, 16));
        startBytes = bytes;
    }
    const std::filesystem::path start = startBytes;
    const std::string option = argc >= 5 ? argv[3] : "";
    const long untilListed = option == "--until-listed" || option == "--report-listed" ? std::stol(argv[4]) : -1;
    const bool withdrawWhenListed = option == "--until-listed";

    using Clock = std::chrono::steady_clock;
    auto last = Clock::now();
    double longest = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    });
    const auto finish = [&](int code) {
        std::printf("longest-stall %.0f ms\n", longest);
        std::fflush(stdout);
        QCoreApplication::exit(code);
    };

    kolvex::FileChooser::Request request;
    request.mode = folder ? kolvex::FileChooser::Mode::chooseFolder : kolvex::FileChooser::Mode::openFiles;
    request.title = folder ? "Choose a folder" : "Choose files";
    request.acceptLabel = "_Choose";
    request.startFolder = start;
    const auto chooser = kolvex::desktopFileChooser();
    const auto shownAt = Clock::now();
    const auto id = chooser->show(request, [&](std::vector<std::filesystem::path> chosen) {
        for (const auto& path : chosen) {
            std::string hex;
            for (unsigned char c : path.native()) {
                char two[3];
                std::snprintf(two, sizeof two, "%02x", c);
                hex += two;
            }
            std::printf("chosen %s\n", hex.c_str());
        }
        std::printf("answered %zu\n", chosen.size());
        finish(0);
    });
    if (!chooser->isShown(id)) {
        std::printf("no chooser\n");
        return 1;
    }
    std::printf("shown\n");
    std::fflush(stdout);
    last = Clock::now();
    tick.start();
    QTimer probe;
    if (untilListed >= 0) {
        probe.setInterval(5);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const long listed = kolvex::testing::chooserListedRows();
            if (listed < untilListed) return;
            probe.stop();
            std::printf("listed %ld in %.3f s\n", listed, std::chrono::duration<double>(Clock::now() - shownAt).count());
            std::fflush(stdout);
            if (!withdrawWhenListed) return;
            chooser->withdraw(id);
            finish(0);
        });
        probe.start();
    }
    return app.exec();
}
