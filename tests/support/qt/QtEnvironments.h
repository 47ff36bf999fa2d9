#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>

#include "support/TempDir.h"

namespace kolvex::testing {

// Makes a QGuiApplication on the offscreen platform before any test runs (the test runner
// normally sets the platform already) and drops it after the last.
class GuiEnvironment : public ::testing::Environment {
public:
    // `name` is the program name the application sees.
    explicit GuiEnvironment(std::string name);

    void SetUp() override;
    void TearDown() override;

private:
    int m_argc = 1;
    std::string m_name;
    char* m_argv[2] = {nullptr, nullptr};
    std::unique_ptr<QGuiApplication> m_app;
};

// Makes a QApplication on the offscreen platform before any test runs, with the home and
// configuration folders in a scratch folder so nothing reaches the real home.
class WidgetEnvironment : public ::testing::Environment {
public:
    // `name` is the program name the application sees; `withoutSessionBus` points the session
    // bus at nothing so the desktop services are never reached.
    WidgetEnvironment(std::string name, bool withoutSessionBus);

    void SetUp() override;
    void TearDown() override;

private:
    int m_argc = 1;
    std::string m_name;
    char* m_argv[2] = {nullptr, nullptr};
    bool m_withoutSessionBus;
    std::unique_ptr<TempDir> m_home;
    std::unique_ptr<QApplication> m_app;
};

}  // namespace kolvex::testing
