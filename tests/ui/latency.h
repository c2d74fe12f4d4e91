#pragma once

// How long the user-interface thread leaves events waiting while work goes on elsewhere,
// measured against how late the (shared) machine itself ran meanwhile.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace ferry::test {

// Latencies in milliseconds: the user-interface thread's worst, and the worst of a plain
// thread sleeping 10 ms at a time meanwhile, which is how late this (shared) machine itself ran.
struct Latency {
    double Ui = 0;
    double Machine = 0;
    int Samples = 0;
};

// Measures while `busy()` holds, at most `limit`: a 10 ms timer's lateness, and the delay of an
// event posted at each of its ticks.
inline Latency LatencyWhile(const std::function<bool()>& busy, std::chrono::milliseconds limit) {
    Latency result;
    std::atomic<bool> measuring{true};
    std::atomic<int64_t> machineWorstUs{0};
    std::thread control([&] {
        auto last = std::chrono::steady_clock::now();
        while (measuring) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const auto now = std::chrono::steady_clock::now();
            const int64_t late = std::chrono::duration_cast<std::chrono::microseconds>(
                                     now - last - std::chrono::milliseconds(10))
                                     .count();
            machineWorstUs = std::max<int64_t>(machineWorstUs, late);
            last = now;
        }
    });
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    bool stop = false;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        result.Ui = std::max(result.Ui, (now - last) / 1e6 - 10);
        last = now;
        ++result.Samples;
        QMetaObject::invokeMethod(
            &tick,
            [&, posted = now] {
                result.Ui = std::max(result.Ui, (clock.nsecsElapsed() - posted) / 1e6);
            },
            Qt::QueuedConnection);
        if (!busy() || clock.elapsed() >= limit.count())
            stop = true;
    });
    tick.start();
    // By hand rather than with an event loop of its own, which a program told to quit before
    // (by an earlier test in this process) would leave at once.
    while (!stop)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    tick.stop();
    QCoreApplication::processEvents(); // the last posted event
    measuring = false;
    control.join();
    result.Machine = machineWorstUs / 1000.0;
    return result;
}

// The loop answers within 100 ms, beyond what the machine itself was late by at worst.
inline void ExpectAnswering(const Latency& latency, double seconds) {
    std::printf("[ latency ] worst UI-thread latency %.1f ms (%d samples, %.1f s measured); "
                "worst lateness of an idle thread meanwhile %.1f ms\n",
                latency.Ui, latency.Samples, seconds, latency.Machine);
    EXPECT_LT(latency.Ui, 100.0 + latency.Machine);
    EXPECT_GT(latency.Samples, 0);
}

} // namespace ferry::test
