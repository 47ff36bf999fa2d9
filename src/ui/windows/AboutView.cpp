// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/windows/AboutView.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QTextBrowser>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/BuildInfo.h"
#include "ui/windows/ApplicationResources.h"

namespace kolvex {

AboutView::BundleInfo AboutView::BundleInfo::current() {
    BundleInfo info;
    if (*buildinfo::kVersion) info.version = buildinfo::kVersion;
    if (*buildinfo::kBuild) info.build = buildinfo::kBuild;
    if (*buildinfo::kCopyright) info.copyright = buildinfo::kCopyright;
    return info;
}

const std::vector<AboutView::Link>& AboutView::links() {
    static const std::vector<Link> links{
        {"Website", "https://kolvex.org"},
        {"What's New", "https://kolvex.org/changes"},
        {"Privacy", "https://kolvex.org/privacy"},
        {"Terms", "https://kolvex.org/terms"},
    };
    return links;
}

std::string AboutView::versionLine(const BundleInfo& info) {
    return "Version " + info.version.value_or("dev") + " (" + info.build.value_or("—") + ")";
}

AboutView::AboutView(std::function<void()> onReportIssue, BundleInfo info, std::optional<std::string> licenceText,
                     QWidget* parent)
    : QWidget(parent), m_onReportIssue(std::move(onReportIssue)) {
    setFixedSize(420, 480);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QVBoxLayout;
    header->setContentsMargins(0, 26, 0, 26);
    header->setSpacing(10);
    header->setAlignment(Qt::AlignHCenter);
    const QImage mark = ApplicationResources::mark();
    if (!mark.isNull()) {
        auto* icon = new QLabel;
        icon->setPixmap(QPixmap::fromImage(mark.scaled(76, 76, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        icon->setAlignment(Qt::AlignCenter);
        header->addWidget(icon);
    }
    auto* name = new QLabel("Kolvex");
    QFont nameFont = name->font();
    nameFont.setPointSizeF(21);
    nameFont.setBold(true);
    name->setFont(nameFont);
    name->setAlignment(Qt::AlignCenter);
    header->addWidget(name);

    m_version = new QLabel(QString::fromStdString(versionLine(info)));
    m_version->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_version->setAlignment(Qt::AlignCenter);
    m_version->setForegroundRole(QPalette::PlaceholderText);
    header->addWidget(m_version);

    auto* linkRow = new QHBoxLayout;
    linkRow->setSpacing(14);
    linkRow->addStretch(1);
    for (const auto& link : links()) {
        auto* anchor = new QLabel(QString("<a href=\"%1\">%2</a>")
                                      .arg(QString::fromStdString(link.address),
                                           QString::fromStdString(link.title).toHtmlEscaped()));
        anchor->setOpenExternalLinks(true);
        anchor->setTextFormat(Qt::RichText);
        linkRow->addWidget(anchor);
    }
    if (m_onReportIssue) {
        m_report = new QPushButton("Report an Issue");
        m_report->setFlat(true);
        m_report->setCursor(Qt::PointingHandCursor);
        connect(m_report, &QPushButton::clicked, this, [this] { m_onReportIssue(); });
        linkRow->addWidget(m_report);
    }
    linkRow->addStretch(1);
    header->addLayout(linkRow);

    m_copyright = new QLabel(QString::fromStdString(info.copyright.value_or("")));
    m_copyright->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_copyright->setAlignment(Qt::AlignCenter);
    m_copyright->setForegroundRole(QPalette::PlaceholderText);
    header->addWidget(m_copyright);
    layout->addLayout(header);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    auto* notices = new QVBoxLayout;
    notices->setContentsMargins(20, 14, 20, 18);
    notices->setSpacing(8);
    auto* title = new QLabel("Open-source components");
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);
    notices->addWidget(title);
    // The notices are Markdown: shown rendered, with their tables and links, and selectable.
    m_licences = new QTextBrowser;
    m_licences->setOpenExternalLinks(true);
    m_licences->setTextInteractionFlags(Qt::TextBrowserInteraction | Qt::TextSelectableByKeyboard);
    QFont small = m_licences->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    m_licences->setFont(small);
    m_licences->setMarkdown(QString::fromStdString(licenceText ? *licenceText : ApplicationResources::licenceText()));
    notices->addWidget(m_licences, 1);
    layout->addLayout(notices, 1);
}

}  // namespace kolvex
