// SPDX-License-Identifier: GPL-3.0-or-later
// Detection latency: from the trigger key going down (XTest) to the reveal signal, over 100
// real drags from a GTK 3 source under Xvfb (goal: p95 ≤ 10 ms). Idle cost: the CPU time the
// observer uses over 10 s with no drag (goal ≈ 0), and over 10 s of plain pointer motion.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "DesktopHarness.h"
#include "core/services/UserDefaults.h"
#include "interaction/x11/DragObserver.h"
#include "interaction/x11/X11DragInputs.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

QCoreApplication& app() { return testing::coreApplication("bench-interaction-drag"); }

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop (blocking, as the application does) until `done` or the timeout.
bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    if (done()) return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) loop.quit();
    });
    deadline.start(timeout);
    check.start(1);
    loop.exec();
    return done();
}

// Runs the event loop for a while with no timer of our own in it.
void idleFor(std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Desktop {
    std::unique_ptr<testing::Xvfb> server;
    std::unique_ptr<testing::FakeInput> input;
    std::unique_ptr<testing::ChildProgram> source;
    std::unique_ptr<DragObserver> observer;
    InMemoryUserDefaults defaults;
    testing::TempDir temp;
    int reveals = 0;
    Clock::time_point revealedAt;

    bool open(benchmark::State& state) {
        app();
        std::string whyNot;
        server = testing::Xvfb::start(whyNot);
        if (!server) {
            state.SkipWithError(whyNot.c_str());
            return false;
        }
        input = std::make_unique<testing::FakeInput>(server->display());
        observer = std::make_unique<DragObserver>(TriggerModifier::shift,
                                                  std::make_unique<X11DragInputs>(server->display()), &defaults);
        observer->onSignal = [this](const DragObserver::Signal& signal) {
            if (std::holds_alternative<DragObserver::Reveal>(signal)) {
                revealedAt = Clock::now();
                ++reveals;
            }
        };
        observer->start();
        const auto file = temp.write("photo.png", "x");
        source = std::make_unique<testing::ChildProgram>(
            KOLVEX_DRAG_SOURCE_GTK, std::vector<std::string>{"100", "100", "200", "200", file.string()},
            std::map<std::string, std::string>{{"DISPLAY", server->display()},
                                               {"GDK_BACKEND", "x11"},
                                               {"NO_AT_BRIDGE", "1"},
                                               {"HOME", temp.path().string()}});
        if (!input->ok() || !observer->isListening() || !source->waitForLine("ready", 10s)) {
            state.SkipWithError("the desktop did not come up");
            return false;
        }
        return true;
    }
};

void BM_RevealLatency(benchmark::State& state) {
    Desktop desktop;
    if (!desktop.open(state)) return;
    std::vector<double> latencies;
    for (auto _ : state) {
        state.PauseTiming();
        auto& input = *desktop.input;
        bool begun = false;
        for (int attempt = 0; attempt < 3 && !begun; ++attempt) {
            input.moveTo(200, 200);
            input.button(1, true);
            for (int step = 0; step < 30 && !begun; ++step) {
                input.moveBy(3, 2);
                begun = desktop.source->waitForLine("drag-begin", 30ms);
            }
            // GTK swallows the first press after one of its drags failed to drop: press again.
            if (!begun) input.button(1, false);
        }
        // The observer follows the drag once it knows its files.
        const bool watching = runUntil([&] { return desktop.observer->isPolling(); }, 2s);
        if (!begun || !watching) {
            state.SkipWithError(!begun ? "a drag did not start" : "the observer did not follow the drag");
            break;
        }
        const int before = desktop.reveals;
        state.ResumeTiming();

        const auto pressed = Clock::now();
        input.key("Shift_L", true);
        const bool revealed = runUntil([&] { return desktop.reveals > before; }, 2s);

        state.PauseTiming();
        if (!revealed) {
            state.SkipWithError("no reveal");
            break;
        }
        const double ms = std::chrono::duration<double, std::milli>(desktop.revealedAt - pressed).count();
        latencies.push_back(ms);
        state.SetIterationTime(ms / 1000);
        input.key("Shift_L", false);
        input.button(1, false);
        desktop.source->waitForLine("drag-end", 5s);
        runUntil([&] { return !desktop.observer->isPolling(); }, 2s);
        state.ResumeTiming();
    }
    if (latencies.empty()) return;
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) {
        return latencies[std::min(latencies.size() - 1, static_cast<std::size_t>(q * latencies.size()))];
    };
    state.counters["p50_ms"] = at(0.50);
    state.counters["p95_ms"] = at(0.95);
    state.counters["max_ms"] = latencies.back();
}
BENCHMARK(BM_RevealLatency)->Iterations(100)->UseManualTime()->Unit(benchmark::kMillisecond);

// CPU time of this process over 10 s; with `moving`, the pointer wanders without a button
// (the cost then includes sending the fake motions from this process).
void idleCost(benchmark::State& state, bool moving) {
    Desktop desktop;
    if (!desktop.open(state)) return;
    for (auto _ : state) {
        QTimer wander;
        int step = 0;
        QObject::connect(&wander, &QTimer::timeout, [&] {
            ++step;
            desktop.input->moveBy(step % 40 < 20 ? 3 : -3, 1 - (step % 3));
        });
        const double before = cpuSeconds();
        if (moving) wander.start(10);  // 100 motions a second
        idleFor(10s);
        wander.stop();
        const double used = cpuSeconds() - before;
        state.counters["cpu_ms_per_10s"] = used * 1000;
        state.counters["polling"] = desktop.observer->isPolling() ? 1 : 0;
    }
}

void BM_IdleCpu(benchmark::State& state) { idleCost(state, false); }
BENCHMARK(BM_IdleCpu)->Iterations(1)->Unit(benchmark::kSecond);

void BM_PointerMotionCpu(benchmark::State& state) { idleCost(state, true); }
BENCHMARK(BM_PointerMotionCpu)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace kolvex

BENCHMARK_MAIN();
