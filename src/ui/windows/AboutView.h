// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <QWidget>

class QLabel;
class QTextBrowser;
class QPushButton;

namespace kolvex {

// The About window's content: name, icon, version and build, the maker's links, "Report an
// Issue", the copyright line and the licence notices. GUI thread only.
class AboutView : public QWidget {
    Q_OBJECT

public:
    // The values an application bundle carries; missing ones read as absent.
    struct BundleInfo {
        std::optional<std::string> version;
        std::optional<std::string> build;
        std::optional<std::string> copyright;
        static BundleInfo current();  // this build's values
    };

    struct Link {
        std::string title;
        std::string address;
    };
    static const std::vector<Link>& links();

    // `onReportIssue` empty: no report button. `licenceText` none: read LICENSES.md.
    explicit AboutView(std::function<void()> onReportIssue, BundleInfo info = BundleInfo::current(),
                       std::optional<std::string> licenceText = std::nullopt, QWidget* parent = nullptr);

    // "Version <version> (<build>)" with "dev" and "—" for missing values.
    static std::string versionLine(const BundleInfo& info);

    QLabel* versionLabel() const { return m_version; }
    QLabel* copyrightLabel() const { return m_copyright; }
    QPushButton* reportButton() const { return m_report; }  // null when there is none
    QTextBrowser* licences() const { return m_licences; }

private:
    std::function<void()> m_onReportIssue;
    QLabel* m_version = nullptr;
    QLabel* m_copyright = nullptr;
    QPushButton* m_report = nullptr;
    QTextBrowser* m_licences = nullptr;
};

}  // namespace kolvex
