// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's file chooser as the tray shows it, in a Qt program of its own, for tests and the
// bench:
//
//   file-chooser-host files|folder START_FOLDER [--until-listed COUNT | --report-listed COUNT]
//                     [--go-to FOLDER]
//
// START_FOLDER and FOLDER may be given as "hex:" and their bytes in hexadecimal, for a name that
// is not UTF-8 (a program's arguments pass through text on their way from a Qt parent).
// Shows the chooser at START_FOLDER and prints "shown". When the user answers it prints one line
// "chosen HEX" per name (the name's bytes in hexadecimal), then "answered N" and exits. With
// --report-listed the chooser prints "listed COUNT in SECONDS s" on standard error once it lists
// COUNT entries and stays up for the user; with --until-listed it then goes, unanswered. With
// --go-to the chooser opens at START_FOLDER and, once up, goes to FOLDER, as a user does; COUNT
// is then counted there. At the end it prints "longest-stall MILLISECONDS ms": the longest the
// event loop went without turning while the chooser was up (a 5 ms timer ticks throughout), and
// "longest-answer MILLISECONDS ms": the longest a message on a socket, as a file handed over by
// a second launch comes, waited to be read (another thread writes one every 10 ms).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include "app/GtkFileChooser.h"

namespace {

std::string bytesOf(const std::string& argument) {
    if (argument.rfind("hex:", 0) != 0) return argument;
    std::string bytes;
    for (size_t i = 4; i + 1 < argument.size(); i += 2) bytes += static_cast<char>(std::stoi(argument.substr(i, 2), nullptr, 16));
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) return 2;
    const bool folder = std::string(argv[1]) == "folder";
    const std::filesystem::path start = bytesOf(argv[2]);
    // What the chooser is asked to report and do, for the tests and the bench.
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--until-listed" || option == "--report-listed") {
            qputenv("KOLVEX_CHOOSER_REPORT_LISTED", argv[i + 1]);
            if (option == "--until-listed") qputenv("KOLVEX_CHOOSER_UNTIL_LISTED", "1");
        } else if (option == "--go-to") {
            std::string hex;
            for (const unsigned char c : bytesOf(argv[i + 1])) {
                char two[3];
                std::snprintf(two, sizeof two, "%02x", c);
                hex += two;
            }
            qputenv("KOLVEX_CHOOSER_GO_TO", QByteArray::fromStdString(hex));
        }
    }

    using Clock = std::chrono::steady_clock;
    // A second launch hands its files over on a socket: how long a message waits to be read.
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return 2;
    std::atomic<bool> writing = true;
    std::thread writer([&] {
        while (writing) {
            const auto sent = Clock::now().time_since_epoch().count();
            [[maybe_unused]] auto written = ::write(pipeEnds[1], &sent, sizeof sent);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    double longestAnswer = 0;
    bool measuring = false;
    QSocketNotifier handedOver(pipeEnds[0], QSocketNotifier::Read);
    QObject::connect(&handedOver, &QSocketNotifier::activated, [&] {
        Clock::rep sent;
        const auto now = Clock::now().time_since_epoch().count();
        while (::read(pipeEnds[0], &sent, sizeof sent) == sizeof sent)
            if (measuring) longestAnswer = std::max(longestAnswer, std::chrono::duration<double, std::milli>(Clock::duration(now - sent)).count());
    });
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
        std::printf("longest-answer %.0f ms\n", longestAnswer);
        std::fflush(stdout);
        QCoreApplication::exit(code);
    };

    kolvex::FileChooser::Request request;
    request.mode = folder ? kolvex::FileChooser::Mode::chooseFolder : kolvex::FileChooser::Mode::openFiles;
    request.title = folder ? "Choose a folder" : "Choose files";
    request.acceptLabel = "_Choose";
    request.startFolder = start;
    const auto chooser = kolvex::desktopFileChooser();
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
        writing = false;
        writer.join();
        return 1;
    }
    std::printf("shown\n");
    std::fflush(stdout);
    last = Clock::now();
    tick.start();
    measuring = true;
    const int status = app.exec();
    writing = false;
    writer.join();
    return status;
}
