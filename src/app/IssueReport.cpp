// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/IssueReport.h"

#include <fstream>
#include <iterator>

#include <QDesktopServices>
#include <QString>
#include <QSysInfo>
#include <QUrl>

#include "core/BuildInfo.h"
#include "core/services/Log.h"

namespace kolvex {

IssueReport::Details IssueReport::Details::current() {
    Details details;
    if (*buildinfo::kVersion) details.version = buildinfo::kVersion;
    if (*buildinfo::kBuild) details.build = buildinfo::kBuild;
    details.system = (QSysInfo::prettyProductName() + " (" + QSysInfo::kernelType() + " " + QSysInfo::kernelVersion() +
                      ")")
                         .toStdString();
    details.model = hardwareModel();
    return details;
}

std::string IssueReport::body(const Details& details) {
    return "What happened?\n\n\n"
           "What did you expect instead?\n\n\n"
           "What file was it? (kind, and roughly how big)\n\n\n"
           "——— the details below help me reproduce it ———\n\n"
           "Kolvex: " + details.version + " (" + details.build + ")\n"
           "Linux: " + details.system + "\n"
           "Computer: " + details.model;
}

std::string IssueReport::percentEncoded(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        const bool allowed = alphanumeric || std::string_view("-._~!$'()*,;:@/").find(static_cast<char>(c)) !=
                                                 std::string_view::npos;
        if (allowed) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0xF];
        }
    }
    return encoded;
}

std::string IssueReport::mailLink(const Details& details) {
    const std::string subject = "Kolvex " + details.version + " — ";
    return std::string("mailto:") + kSupportAddress + "?subject=" + percentEncoded(subject) +
           "&body=" + percentEncoded(body(details));
}

namespace {

// The text of a small system file up to its first zero byte, without trailing blanks; invalid
// UTF-8 is replaced.
std::optional<std::string> firstLine(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes;
    char buffer[512];
    in.read(buffer, sizeof buffer);
    bytes.assign(buffer, static_cast<std::size_t>(in.gcount()));
    if (const auto zero = bytes.find('\0'); zero != std::string::npos) bytes.resize(zero);
    while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == ' ' || bytes.back() == '\r')) bytes.pop_back();
    if (bytes.empty()) return std::nullopt;
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).toStdString();
}

}  // namespace

std::string IssueReport::hardwareModel(const std::string& dmiProductName, const std::string& deviceTreeModel) {
    if (auto model = firstLine(dmiProductName)) return *model;
    if (auto model = firstLine(deviceTreeModel)) return *model;
    return "unknown";
}

void IssueReport::compose(const std::function<bool(const std::string&)>& open) {
    const auto openLink = [&](const std::string& link) {
        if (open) return open(link);
        return QDesktopServices::openUrl(QUrl(QString::fromStdString(link), QUrl::StrictMode));
    };
    const std::string link = mailLink();
    if (!QUrl(QString::fromStdString(link), QUrl::StrictMode).isValid()) {
        Log::app().error("Could not build the support mail URL");
        return;
    }
    if (!openLink(link)) openLink(std::string("mailto:") + kSupportAddress);
}

}  // namespace kolvex
