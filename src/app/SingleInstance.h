// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <QByteArrayList>
#include <QObject>
#include <QStringList>

namespace kolvex {

// One Kolvex per desktop session: the first copy owns the name org.kolvex.Kolvex on the session
// bus; a later launch hands its files (or a plain "reopen") to it and ends. Without a session
// bus every copy runs on its own. GUI thread only.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kolvex.Kolvex")

public:
    enum class Role { primary, forwarded, alone };

    // Takes the bus name, or, when another copy holds it, forwards `files` to that copy.
    Role claim(const std::vector<std::filesystem::path>& files);

    // The files a command line names: existing regular files, made absolute, in order; the
    // self-check flags and anything else are left out.
    static std::vector<std::filesystem::path> filesIn(const std::vector<std::string>& arguments,
                                                      const std::filesystem::path& workingFolder);
    // What the user is told of the paths filesIn() leaves out, one line each: a folder, a path
    // that names nothing, something that is no regular file.
    static std::vector<std::string> notOpened(const std::vector<std::string>& arguments,
                                              const std::filesystem::path& workingFolder);

    std::function<void(const std::vector<std::filesystem::path>&)> onOpen;
    std::function<void()> onReopen;

public slots:
    // The paths as the file system spells them: bytes, so that a name that is not UTF-8
    // arrives as it is.
    Q_SCRIPTABLE void OpenPaths(const QByteArrayList& paths);
    // Paths as text, from a copy that sends them so; names that are not UTF-8 cannot come this way.
    Q_SCRIPTABLE void Open(const QStringList& paths);
    Q_SCRIPTABLE void Reopen();

private:
    void openChecked(const std::vector<std::filesystem::path>& candidates);
};

}  // namespace kolvex
