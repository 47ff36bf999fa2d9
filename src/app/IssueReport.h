// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace kolvex {

// The "Report an Issue" mail: a message to the support address with three questions and the
// details needed to reproduce a problem. Nothing is cached: every call gathers afresh.
class IssueReport {
public:
    static constexpr const char* kSupportAddress = "support@kolvex.org";

    // What the details lines say.
    struct Details {
        std::string version = "unknown";
        std::string build = "unknown";
        std::string system;              // the operating system as it words itself
        std::string model = "unknown";   // the computer's model

        // This build's version, the running system and the machine's model.
        static Details current();
    };

    // The message body, without a trailing line break.
    static std::string body(const Details& details = Details::current());
    // "mailto:<address>?subject=…&body=…" with both parts percent-encoded.
    static std::string mailLink(const Details& details = Details::current());
    // Percent-encodes everything but the characters a URL query allows, less "&+?=".
    static std::string percentEncoded(const std::string& text);

    // The hardware model from the first of these files that holds text (DMI product name, then
    // the device tree's model); "unknown" when none does.
    static std::string hardwareModel(const std::string& dmiProductName = "/sys/devices/virtual/dmi/id/product_name",
                                     const std::string& deviceTreeModel = "/proc/device-tree/model");

    // Opens the mail link in the user's mail program; when that fails, a bare link to the
    // support address. GUI thread. `open` replaces the desktop's URL opening (tests).
    static void compose(const std::function<bool(const std::string&)>& open = nullptr);
};

}  // namespace kolvex
