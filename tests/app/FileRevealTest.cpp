// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/services/QtFilePaths.h"

namespace kolvex {
namespace {

// A file URI names the very file, whatever its name's bytes: each byte outside the unreserved
// set is one %XX, never read as UTF-8 first.
TEST(FileUri, CarriesTheBytesOfTheName) {
    struct Case {
        std::string path;
        const char* uri;
    };
    for (const auto& [path, uri] : std::vector<Case>{
             {"/tmp/caf\xe9 \xff.md", "file:///tmp/caf%E9%20%FF.md"},
             {"/home/b\xc3\xa9/a#b?c.txt", "file:///home/b%C3%A9/a%23b%3Fc.txt"},
             {"/x/\xef\xbf\xbd.png", "file:///x/%EF%BF%BD.png"},
             {"/plain-name_1.0~/x", "file:///plain-name_1.0~/x"}}) {
        EXPECT_EQ(qtpaths::fileUri(path).toStdString(), uri) << path;
    }
}

}  // namespace
}  // namespace kolvex
