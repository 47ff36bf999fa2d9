// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's file chooser, shown by the helper program kolvex-file-chooser: GTK lists a
// folder on the loop of the process that shows its dialog, so it is shown by a process of its
// own and the tray's loop goes on answering while a folder of many files is listed. The helper
// hands the chosen names back as bytes; closing its standard input withdraws the question.
#include "app/GtkFileChooser.h"

#include <map>
#include <utility>

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QProcess>

#include "core/ffmpeg/BundledFFmpeg.h"
#include "core/services/Log.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "kolvex-file-chooser";
// How long a withdrawn chooser is given to take its dialog down (it takes a few milliseconds).
constexpr int kWithdrawWaitMs = 1000;

std::string hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char byte : bytes) {
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0xF];
    }
    return out;
}

std::optional<std::string> fromHex(std::string_view digits) {
    const auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    if (digits.size() % 2 != 0) return std::nullopt;
    std::string bytes;
    for (size_t i = 0; i < digits.size(); i += 2) {
        const int high = value(digits[i]);
        const int low = value(digits[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes += static_cast<char>(high * 16 + low);
    }
    return bytes;
}

// The helper beside the application's other programs: <prefix>/libexec/kolvex.
std::optional<fs::path> helperProgram() {
    std::error_code error;
    for (const fs::path& folder : BundledFFmpeg::bundleFolders()) {
        const fs::path candidate = folder / kProgram;
        if (fs::is_regular_file(candidate, error)) return candidate;
    }
    return std::nullopt;
}

// The names of a helper's answer: its "chosen HEX" lines.
std::vector<fs::path> chosenIn(const QByteArray& output) {
    std::vector<fs::path> chosen;
    for (const QByteArray& line : output.split('\n')) {
        if (!line.startsWith("chosen ")) continue;
        if (auto bytes = fromHex(std::string_view(line.constData() + 7, static_cast<size_t>(line.size() - 7))))
            chosen.emplace_back(std::move(*bytes));
    }
    return chosen;
}

class ProcessChooser final : public FileChooser {
public:
    Id show(const Request& request, Answer answer) override {
        const auto program = helperProgram();
        if (!program) {
            Log::app().error("The file chooser cannot be shown: {} is not installed", kProgram);
            if (answer) answer({});
            return 0;
        }
        const Id id = ++m_lastId;
        // Owned by the application: one still up when it quits is ended with it.
        auto* process = new QProcess(QCoreApplication::instance());
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const char* mode = request.mode == Mode::chooseFolder ? "folder" : request.mode == Mode::openFile ? "file" : "files";
        process->setProgram(QFile::decodeName(QByteArray::fromStdString(program->native())));
        process->setArguments({mode, QString::fromStdString(request.title), QString::fromStdString(request.acceptLabel),
                               QString::fromStdString(request.startFolder ? hex(request.startFolder->native()) : ""),
                               QString::number(request.besideWindow)});
        QObject::connect(process, &QProcess::finished, process, [this, id] { answered(id); });
        QObject::connect(process, &QProcess::errorOccurred, process, [this, id, process](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart) return;
            Log::app().error("The file chooser could not be started: {}", process->errorString().toStdString());
            answered(id);
        });
        m_shown.emplace(id, Shown{process, std::move(answer)});
        process->start(QIODevice::ReadWrite);
        return id;
    }

    void withdraw(Id id) override {
        auto found = m_shown.find(id);
        if (found == m_shown.end()) return;
        QPointer<QProcess> process = found->second.process;
        m_shown.erase(found);
        if (!process) return;
        process->disconnect();
        // Its standard input closes: the helper takes its dialog down and ends. Waited for (a
        // few milliseconds): the window that comes next, the Portal, takes the keyboard once the
        // dialog is gone, not before the window manager gives it back to what it falls back to.
        process->closeWriteChannel();
        if (!process->waitForFinished(kWithdrawWaitMs)) {
            Log::app().warn("The file chooser did not end when withdrawn; ending it");
            process->kill();
            process->waitForFinished(kWithdrawWaitMs);
        }
        process->deleteLater();
    }

    bool isShown(Id id) const override { return m_shown.count(id) > 0; }

private:
    struct Shown {
        QPointer<QProcess> process;
        Answer answer;
    };

    void answered(Id id) {
        auto found = m_shown.find(id);
        if (found == m_shown.end()) return;
        Shown shown = std::move(found->second);
        m_shown.erase(found);
        std::vector<fs::path> chosen;
        if (shown.process) {
            const QByteArray output = shown.process->readAllStandardOutput();
            if (shown.process->exitStatus() == QProcess::NormalExit && shown.process->exitCode() == 0) chosen = chosenIn(output);
            else Log::app().error("The file chooser ended without an answer (exit {})", shown.process->exitCode());
            shown.process->disconnect();
            shown.process->deleteLater();
        }
        if (shown.answer) shown.answer(std::move(chosen));
    }

    Id m_lastId = 0;
    std::map<Id, Shown> m_shown;
};

}  // namespace

std::shared_ptr<FileChooser> desktopFileChooser() {
    static const std::shared_ptr<ProcessChooser> chooser = std::make_shared<ProcessChooser>();
    return chooser;
}

}  // namespace kolvex
