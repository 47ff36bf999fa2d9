// The windows need a QApplication; the tests make one on the offscreen platform before any
// test runs, with the configuration folder in a scratch folder so nothing reaches the home.
#include <cstdlib>
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include <QApplication>

#include "support/TempDir.h"

namespace {

class WidgetEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        m_home = std::make_unique<kolvex::testing::TempDir>();
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        ::setenv("XDG_CONFIG_HOME", (m_home->path() / "config").c_str(), 1);
        ::setenv("HOME", m_home->path().c_str(), 1);
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override {
        m_app.reset();
        m_home.reset();
    }

private:
    int m_argc = 1;
    char m_name[16] = "test-windows";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<kolvex::testing::TempDir> m_home;
    std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new WidgetEnvironment);

}  // namespace
