// The preview window for real (offscreen or Xvfb): made from a worker's
// picture on the window's thread, captioned with the picture's time, sized to
// it, showing it; closed by the user, it ends the previews of its task while
// the conversion goes on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QPointer>
#include <QRegularExpression>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/Previewer.h"
#include "app/QtWindowThread.h"
#include "engine/DAzaduVED.h"
#include "engine/FFmpegTask.h"
#include "tests/app/FormFixture.h"
#include "tests/common/Fixtures.h"
#include "tests/common/VideoCheck.h"

using namespace ardentix::test;

namespace {

bool Pump(const std::function<bool()>& pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!pred() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

std::vector<QWidget*> PreviewWindows() {
    std::vector<QWidget*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == TPreviewer::kObjectName) found.push_back(w);
    return found;
}

QWidget* VisiblePreviewWindow() {
    for (QWidget* w : PreviewWindows())
        if (w->isVisible()) return w;
    return nullptr;
}

// A bitmap of one colour (blue, green, red bytes).
void Fill(TBitmap& bitmap, int width, int height, uint8_t b, uint8_t g, uint8_t r) {
    ASSERT_TRUE(bitmap.SetSize(width, height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* px = bitmap.Pixel(x, y);
            px[0] = b;
            px[1] = g;
            px[2] = r;
        }
}

}  // namespace

TEST(Previewer, AWorkersPictureAppearsInAWindowOfItsSizeCaptionedWithItsNameAndTime) {
    apptest::App();
    TQtWindowThread window;
    std::unique_ptr<TPreviewWindow> previewer = window.NewPreviewWindow("clip.rm");
    ASSERT_TRUE(previewer);
    TBitmap red;
    Fill(red, 40, 30, 0, 0, 255);
    std::atomic<bool> shown{false};
    // Show never waits for the window's thread: it returns while that thread does nothing.
    std::thread([&] { shown = previewer->Show(red, 3, 1500000); }).join();
    EXPECT_TRUE(shown);

    ASSERT_TRUE(Pump([] { return VisiblePreviewWindow() != nullptr; }));
    QPointer<QWidget> w = VisiblePreviewWindow();
    EXPECT_EQ(w->windowTitle(), QString::fromUtf8("clip.rm \u00b7 00:00:01.500"));
    EXPECT_EQ(w->size(), QSize(40, 30));
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(w->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    const QImage shot = w->grab().toImage();
    EXPECT_EQ(shot.pixelColor(20, 15), QColor(255, 0, 0));

    TBitmap green;
    Fill(green, 40, 30, 0, 255, 0);
    std::thread([&] { shown = previewer->Show(green, 6, 3723004000); }).join();
    ASSERT_TRUE(Pump([&] { return w->windowTitle().endsWith("01:02:03.004"); }));
    EXPECT_EQ(w->grab().toImage().pixelColor(5, 5), QColor(0, 255, 0));
    EXPECT_EQ(PreviewWindows().size(), 1u);
    // A larger picture is shown scaled down to the preview's width.
    TBitmap large;
    Fill(large, 720, 576, 255, 0, 0);
    std::thread([&] { shown = previewer->Show(large, 7, 0); }).join();
    ASSERT_TRUE(Pump([&] { return w->size() == QSize(TPreviewer::kMaxWidth, 288); }));
    EXPECT_EQ(w->grab().toImage().pixelColor(300, 250), QColor(0, 0, 255));

    // The user closes it: the worker learns it at its next picture.
    w->close();
    std::thread([&] { shown = previewer->Show(red, 9, 0); }).join();
    EXPECT_FALSE(shown);
    std::thread([&] { previewer.reset(); }).join();
    EXPECT_TRUE(Pump([&] { return w.isNull(); }));
}

// Files converted at the same time show their pictures one under the other,
// beside the main window: none covers the list or another.
TEST(Previewer, WindowsOfTasksAtTheSameTimeCoverNeitherTheMainWindowNorEachOther) {
    apptest::App();
    QWidget main;
    main.setObjectName("Form1");
    main.setGeometry(40, 40, 300, 200);
    main.show();
    TQtWindowThread window;
    std::unique_ptr<TPreviewWindow> first = window.NewPreviewWindow("a.rm"), second = window.NewPreviewWindow("b.rm");
    TBitmap picture;
    Fill(picture, 40, 30, 0, 0, 255);
    std::thread([&] { first->Show(picture, 1, 0), second->Show(picture, 1, 0); }).join();
    ASSERT_TRUE(Pump([] { return PreviewWindows().size() == 2; }));
    const std::vector<QWidget*> shown = PreviewWindows();
    EXPECT_FALSE(shown[0]->frameGeometry().intersects(shown[1]->frameGeometry()));
    for (const QWidget* w : shown) EXPECT_FALSE(w->frameGeometry().intersects(main.frameGeometry()));
    std::thread([&] { first.reset(), second.reset(); }).join();
    EXPECT_TRUE(Pump([] { return PreviewWindows().empty(); }));
}

// A real conversion previewing into the real window; the user closes it
// partway: no window comes again for that task, and the conversion ends with
// every picture.
TEST(Previewer, ClosingTheWindowMidTaskStopsPreviewsButNotTheConversion) {
    apptest::App();
    TempDir dir;
    const std::string src = MakeFixture(dir, "in.rm", "rm-video",
                                        {"--seconds", "4", "--fps", "25", "--size", "64x48", "--audio", "none"});
    TQtWindowThread window;
    {
        TDAzaduVED engine(&window);
        ASSERT_TRUE(engine.LoadLibraries("")) << engine.LastErrorText();
        engine.SetLogLevel(llQuiet);
        std::atomic<bool> ended{false}, finished{false};
        engine.SetOnTerminate([&](int index, bool done, bool, const std::string&) {
            if (index == 0) finished = done;
            if (index < 0) ended = true;
        });
        // Read at its own pace, so that the run lasts while the window is looked at.
        TInputOptions in;
        in.ExtOptions = "re";
        const int index = engine.AddTask(src, &in);
        ASSERT_EQ(index, 0) << engine.LastErrorText();
        TOutputOptions out;
        out.VideoCodec = "ffv1";
        const std::string dst = dir.File("out.mkv");
        ASSERT_TRUE(engine.SetOutputFile(index, dst, &out)) << engine.LastErrorText();
        engine.SetPreview(true);
        engine.StartConvert(1);

        ASSERT_TRUE(Pump([&] { return VisiblePreviewWindow() != nullptr || ended; }));
        QWidget* w = VisiblePreviewWindow();
        ASSERT_NE(w, nullptr) << "the run ended before a preview window came";
        EXPECT_EQ(w->size(), QSize(64, 48));
        EXPECT_TRUE(w->windowTitle().contains(QRegularExpression("^in\\.rm \u00b7 00:00:0\\d\\.\\d\\d\\d$")))
            << w->windowTitle().toStdString();
        w->close();
        bool came_back = false;
        ASSERT_TRUE(Pump([&] {
            came_back = came_back || VisiblePreviewWindow() != nullptr;
            return ended.load();
        }));
        EXPECT_FALSE(came_back);
        EXPECT_TRUE(finished);
        EXPECT_EQ(engine.Task(0)->preview_flags & 1, 0);
        EXPECT_TRUE(engine.Preview());
        EXPECT_EQ(DecodePictures(dst).size(), 100u);
    }
    EXPECT_TRUE(Pump([] { return PreviewWindows().empty(); }));
}
