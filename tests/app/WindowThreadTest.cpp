// Handing work from worker threads to the window's thread: the engine's window
// thread and the window's own event hand-off.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "app/QtWindowThread.h"
#include "app/WindowCalls.h"
#include "tests/app/FormFixture.h"

namespace {

// Runs the window's events until pred holds (or a long while has passed).
bool Pump(const std::function<bool()>& pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!pred() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

}  // namespace

TEST(QtWindowThread, RunAndWaitRunsOnTheWindowThread) {
    apptest::App();
    TQtWindowThread window;
    EXPECT_TRUE(window.IsWindowThread());
    std::thread::id ranOn;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        EXPECT_FALSE(window.IsWindowThread());
        window.RunAndWait([&] { ranOn = std::this_thread::get_id(); });
        returned = true;
    });
    EXPECT_TRUE(Pump([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    // On the window's thread itself the routine runs at once.
    bool direct = false;
    window.RunAndWait([&] { direct = true; });
    EXPECT_TRUE(direct);
}

TEST(QtWindowThread, ErrorsReachTheWaitingThread) {
    apptest::App();
    TQtWindowThread window;
    std::atomic<bool> caught{false};
    std::thread worker([&] {
        try {
            window.RunAndWait([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error& e) {
            caught = std::string(e.what()) == "boom";
        }
    });
    // ProcessPending alone (no event loop) lets the worker through, as the engine
    // does while it waits for its workers.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!caught && std::chrono::steady_clock::now() < end) {
        window.ProcessPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    worker.join();
    EXPECT_TRUE(caught);
    QCoreApplication::processEvents();  // the queued wake-up finds nothing left
}

TEST(QtWindowThread, OneShotTimersFireOnceInOrder) {
    apptest::App();
    TQtWindowThread window;
    std::vector<int> fired;
    window.OneShotTimer(30, [&] { fired.push_back(2); });
    window.OneShotTimer(0, [&] { fired.push_back(1); });
    EXPECT_TRUE(Pump([&] { return fired.size() == 2; }));
    EXPECT_EQ(fired, (std::vector<int>{1, 2}));
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(fired.size(), 2u);
}

TEST(WindowCalls, SendWaitsForTheWindowAndPostDoesNot) {
    apptest::App();
    QObject receiver;
    TWindowCalls calls(&receiver);
    calls.Open();
    std::atomic<int> stage{0};
    std::thread worker([&] {
        calls.Post([&] { EXPECT_EQ(stage.load(), 1); });
        stage = 1;
        calls.Send([&] { stage = 2; });
        EXPECT_EQ(stage.load(), 2);  // ran before Send returned
        stage = 3;
    });
    EXPECT_TRUE(Pump([&] { return stage.load() == 3; }));
    worker.join();
}

TEST(WindowCalls, CloseLetsAWaitingWorkerGoAndDropsItsRoutine) {
    apptest::App();
    QObject receiver;
    TWindowCalls calls(&receiver);
    calls.Open();
    std::atomic<bool> sent{false};
    bool ran = false;
    std::thread worker([&] {
        calls.Send([&] { ran = true; });
        sent = true;
    });
    // The window never looks at its events; closing alone releases the worker.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    calls.Close();
    worker.join();
    EXPECT_TRUE(sent);
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);  // dropped, also when the window looks later

    // Closed: nothing is queued and nobody waits.
    std::thread late([&] {
        calls.Send([&] { ran = true; });
        calls.Post([&] { ran = true; });
    });
    late.join();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
    // On the window's thread a closed hand-off runs nothing either.
    calls.Post([&] { ran = true; });
    EXPECT_FALSE(ran);
    calls.Open();
    calls.Post([&] { ran = true; });
    EXPECT_TRUE(ran);
}
