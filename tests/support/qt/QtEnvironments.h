// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>

#include "support/TempDir.h"

namespace kolvex::testing {

// The argc and argv an application is made with, naming the program `name`. Not copied: argv
// points into it.
struct ProgramArguments {
    explicit ProgramArguments(std::string programName) : name(std::move(programName)) { argv[0] = name.data(); }
    ProgramArguments(const ProgramArguments&) = delete;
    ProgramArguments& operator=(const ProgramArguments&) = delete;

    int argc = 1;
    std::string name;
    char* argv[2] = {nullptr, nullptr};
};

// The one QApplication of a test program that makes it on first use (the offscreen platform),
// named `name`; an application that already exists is taken as it is. Never destroyed.
QApplication& sharedApplication(const char* name);

// Makes a QGuiApplication on the offscreen platform before any test runs (the test runner
// normally sets the platform already) and drops it after the last.
class GuiEnvironment : public ::testing::Environment {
public:
    // `name` is the program name the application sees.
    explicit GuiEnvironment(std::string name);

    void SetUp() override;
    void TearDown() override;

private:
    ProgramArguments m_program;
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
    ProgramArguments m_program;
    bool m_withoutSessionBus;
    std::unique_ptr<TempDir> m_home;
    std::unique_ptr<QApplication> m_app;
};

}  // namespace kolvex::testing
