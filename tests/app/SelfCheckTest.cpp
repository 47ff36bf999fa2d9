// SPDX-License-Identifier: GPL-3.0-or-later
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include "app/SelfCheck.h"
#include "core/format/FormatRegistry.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

SelfCheck::Resources allPresent() {
    SelfCheck::Resources resources;
    resources.bundle = [](const std::string& name) -> std::optional<std::filesystem::path> {
        return "/share/kolvex/" + name + ".bundle";
    };
    resources.loadRegistry = [] { return FormatRegistry::loadBundled(); };
    resources.markLoads = [] { return true; };
    resources.licencesPresent = [] { return true; };
    return resources;
}

FormatManifest manifestWith(std::vector<std::string> ids) {
    FormatManifest manifest = FormatRegistry::loadBundled().manifest();
    std::vector<Format> kept;
    for (const auto& format : manifest.formats)
        if (std::find(ids.begin(), ids.end(), format.id.rawValue) != ids.end()) kept.push_back(format);
    manifest.formats = kept;
    manifest.conversions.clear();
    manifest.tools.clear();
    return manifest;
}

TEST(SelfCheck, FlagsAreExactAndLoginStatusWins) {
    using R = SelfCheck::Request;
    EXPECT_EQ(SelfCheck::requestFor({"--verify-resources", "--login-status"}), R::loginStatus);
    EXPECT_EQ(SelfCheck::requestFor({"/tmp/a.png", "--verify-resources"}), R::verifyResources);
    EXPECT_EQ(SelfCheck::requestFor({"--verify-resource", "--login", "-login-status", "--login-status=1"}), R::none);
    EXPECT_EQ(SelfCheck::requestFor({}), R::none);
}

TEST(SelfCheck, EveryFailureGivesOneLineInOrder) {
    auto resources = allPresent();
    resources.bundle = [](const std::string&) { return std::nullopt; };
    resources.loadRegistry = []() -> FormatRegistry { throw FormatRegistry::LoadError::manifestMissing(); };
    resources.markLoads = [] { return false; };
    resources.licencesPresent = [] { return false; };
    resources.unavailableEngines = [] { return std::vector<std::string>{"the pdf engine did not load"}; };
    std::ostringstream out;
    EXPECT_EQ(SelfCheck::verifyResources(out, resources), 1);
    EXPECT_EQ(out.str(),
              "error: Kolvex_KolvexCore.bundle not found\n"
              "error: Kolvex_KolvexUI.bundle not found\n"
              "error: FormatRegistry.loadBundled failed: manifestMissing\n"
              "error: the branding mark did not load\n"
              "error: LICENSES.md is missing — the About window would be empty\n"
              "error: the pdf engine did not load\n");
}

TEST(SelfCheck, ManifestProblemsAreDescribed) {
    struct Case {
        std::function<FormatRegistry()> load;
        std::string line;
    };
    const std::vector<Case> cases{
        {[] { return FormatRegistry(manifestWith({"png"})); }, "error: FormatRegistry.loadBundled failed: manifestMissing\n"},
        {[]() -> FormatRegistry { throw FormatRegistry::LoadError::danglingCapability("png", "xyz"); },
         "error: FormatRegistry.loadBundled failed: danglingCapability(from: \"png\", to: \"xyz\")\n"},
        {[]() -> FormatRegistry { throw FormatRegistry::LoadError::manifestUnreadable("bad key"); },
         "error: FormatRegistry.loadBundled failed: manifestUnreadable(\"bad key\")\n"},
    };
    for (const auto& c : cases) {
        auto resources = allPresent();
        resources.loadRegistry = c.load;
        std::ostringstream out;
        EXPECT_EQ(SelfCheck::verifyResources(out, resources), 1);
        EXPECT_EQ(out.str(), c.line);
    }
    auto two = allPresent();
    two.loadRegistry = [] { return FormatRegistry(manifestWith({"png", "jpg"})); };
    std::ostringstream out;
    EXPECT_EQ(SelfCheck::verifyResources(out, two), 0);
    EXPECT_EQ(out.str(), "  format manifest: 2 formats\n  every bundled resource loaded\n");
}

// The program itself, as a user or a package test runs it.
struct ProgramRun {
    int exitCode = -1;
    std::string out, err;
};

ProgramRun runKolvex(const QStringList& arguments, const std::filesystem::path& configHome) {
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(configHome.string()));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.start(KOLVEX_PROGRAM, arguments);
    process.waitForFinished(30000);
    return {process.exitCode(), process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

TEST(SelfCheck, ProgramAnswersTheFlagsWithoutAnInterface) {
    testing::TempDir dir;
    ProgramRun both = runKolvex({"--verify-resources", "--login-status"}, dir / "config");
    EXPECT_EQ(both.exitCode, 0);
    EXPECT_EQ(both.out, "  open at login: not registered — Kolvex will not open at login\n");
    EXPECT_EQ(both.err, "");

    dir.write("config/autostart/org.kolvex.Kolvex.desktop", "[Desktop Entry]\nExec=kolvex\n");
    EXPECT_EQ(runKolvex({"--login-status"}, dir / "config").out, "  open at login: enabled — your desktop will open Kolvex at login\n");

    ProgramRun verify = runKolvex({"--verify-resources"}, dir / "config");
    EXPECT_EQ(verify.exitCode, 0) << verify.out;
    EXPECT_NE(verify.out.find("  every bundled resource loaded\n"), std::string::npos);
    EXPECT_EQ(verify.err, "");
}

// A copy of the program with its resources checks its own, never the build tree's.
TEST(SelfCheck, ACopyChecksItsOwnResources) {
    namespace fs = std::filesystem;
    testing::TempDir dir;
    const fs::path stage = fs::path(KOLVEX_PROGRAM).parent_path().parent_path();
    const fs::path copy = dir / "copy";
    fs::create_directories(copy / "bin");
    fs::copy_file(KOLVEX_PROGRAM, copy / "bin/kolvex");
    fs::copy(stage / "share", copy / "share", fs::copy_options::recursive);
    fs::copy(stage / "libexec", copy / "libexec", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::copy(stage / "lib", copy / "lib", fs::copy_options::recursive);
    const auto run = [&] {
        QProcess process;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", QString::fromStdString((dir / "config").string()));
        process.setProcessEnvironment(environment);
        process.start(QString::fromStdString((copy / "bin/kolvex").string()), {"--verify-resources"});
        process.waitForFinished(30000);
        return ProgramRun{process.exitCode(), process.readAllStandardOutput().toStdString(), {}};
    };

    const ProgramRun whole = run();
    EXPECT_EQ(whole.exitCode, 0) << whole.out;

    fs::remove_all(copy / "share/kolvex/Kolvex_KolvexUI.bundle");
    std::vector<fs::path> modules;
    for (const auto& entry : fs::recursive_directory_iterator(copy / "lib"))
        if (entry.path().filename() == "kolvex-engine-pdf.so") modules.push_back(entry.path());
    ASSERT_EQ(modules.size(), 1u) << "the PDF engine's module is not staged";
    fs::remove(modules.front());
    const ProgramRun broken = run();
    EXPECT_EQ(broken.exitCode, 1) << broken.out;
    EXPECT_NE(broken.out.find("error: Kolvex_KolvexUI.bundle not found\n"), std::string::npos) << broken.out;
    EXPECT_NE(broken.out.find("error: the branding mark did not load\n"), std::string::npos) << broken.out;
    // The engine that cannot be loaded is named, with the file and the loader's reason.
    EXPECT_NE(broken.out.find("error: Kolvex could not load its pdf engine (" + modules.front().string() +
                              "): " + modules.front().string() + ": cannot open shared object file"),
              std::string::npos)
        << broken.out;
}

}  // namespace
}  // namespace kolvex
