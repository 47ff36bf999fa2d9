// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <QProcess>
#include <QProcessEnvironment>

#include "support/qt/QtEnvironments.h"
#include "ui/async/TaskRunner.h"

namespace kolvex {
namespace {

// Something a worker uses that the process makes on first use and destroys at exit, as the
// engines' shared budgets are: made after the runner, so it dies before the runner's static.
struct Touched {
    std::atomic<bool> alive{true};
    ~Touched() { alive = false; }
};

Touched& touched() {
    static Touched made;
    return made;
}

constexpr const char* kChildVariable = "KOLVEX_EXIT_CHILD";
constexpr const char* kDeadMessage = "a worker touched what had died";

// The child: the shape of a test program of the sheets — a shared application never destroyed,
// work handed to the application's runner still running when the last test ends.
TEST(ExitChild, EndsWhileTheApplicationsWorkRuns) {
    if (!std::getenv(kChildVariable)) GTEST_SKIP() << "run as a child by ExitWhileWorking";
    testing::sharedApplication("test-ui-exit");
    std::atomic<int> started{0};
    for (int i = 0; i < 3; ++i) {
        QtTaskRunner::shared()->background([&started](std::stop_token stop) {
            touched();
            ++started;
            // Until asked to stop, then once more: a worker's last act (giving back a share,
            // logging) touches what it used.
            while (!stop.stop_requested()) std::this_thread::yield();
            if (!touched().alive) {
                std::fputs(kDeadMessage, stderr);
                std::fflush(stderr);
                std::_Exit(3);
            }
        });
    }
    while (started < 3) std::this_thread::yield();
}

// Ended while its work runs, again and again, the program exits cleanly every time.
TEST(ExitWhileWorking, EveryWorkerIsJoinedBeforeAnythingItTouchesDies) {
    if (std::getenv(kChildVariable)) GTEST_SKIP() << "the child";
    testing::sharedApplication("test-ui-exit");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kChildVariable, "1");
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1));
        QProcess child;
        child.setProcessEnvironment(environment);
        child.start("/proc/self/exe", {"--gtest_filter=ExitChild.*"});
        ASSERT_TRUE(child.waitForFinished(120000)) << "the child did not end within 120 s";
        const QString errors = QString::fromUtf8(child.readAllStandardError());
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << errors.toStdString();
        EXPECT_EQ(child.exitCode(), 0) << errors.toStdString();
        EXPECT_FALSE(errors.contains(kDeadMessage)) << errors.toStdString();
    }
}

}  // namespace
}  // namespace kolvex
