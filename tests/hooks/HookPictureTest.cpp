// Hooks at work on real pictures: the sample plug-ins, the hook ranges, the
// before-hook and custom-hook callbacks and the preview step, each checked on
// the pictures of a lossless output decoded back.
#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "tests/hooks/HookTestSupport.h"

namespace hooktest {
namespace {

class HookPictureTest : public HookCoreTest {
protected:
    // The pictures of src converted without any hook.
    const std::vector<DecodedPicture>& Reference(const std::string& src) {
        if (reference_.empty()) {
            const std::string out = dir.File("reference.mkv");
            EXPECT_EQ(Convert(src, out), "");
            reference_ = Pictures(out);
        }
        return reference_;
    }
    std::vector<DecodedPicture> reference_;
};

TEST_F(HookPictureTest, GreyTurnsEveryPictureGreyAndLeavesItsLuma) {
    const std::string src = MakeVideo("in.rm", 1.0);
    const auto& reference = Reference(src);
    ASSERT_FALSE(ChromaFlat(reference[0]));
    const std::string out = dir.File("grey.mkv");
    ASSERT_EQ(Convert(src, out, [&] { core.SetOption("vhook", SamplePlugin("grey")); }), "");
    const auto pictures = Pictures(out);
    ASSERT_EQ(pictures.size(), reference.size());
    for (size_t i = 0; i < pictures.size(); ++i) {
        EXPECT_TRUE(ChromaFlat(pictures[i])) << "picture " << i;
        EXPECT_EQ(pictures[i].y, reference[i].y) << "picture " << i;
    }
}

// The box lies where its arguments put it (clipped at the picture's edge),
// everything around it is as the input had it, and hooks run in the order
// they were named: the later box covers the earlier one.
TEST_F(HookPictureTest, BoxesLieWhereTheirArgumentsPutThem) {
    struct Box {
        int left, top, width, height, luma;
    };
    struct Case {
        std::vector<std::string> vhooks;
        std::vector<Box> boxes;  // in painting order
    };
    const Case cases[] = {
        {{"8 4 16 12"}, {{8, 4, 16, 12, 235}}},
        {{"56 40 30 30 60"}, {{56, 40, 8, 8, 60}}},
        {{"0 0 32 32 200", "16 16 32 16 30"}, {{0, 0, 32, 32, 200}, {16, 16, 32, 16, 30}}},
    };
    const std::string src = MakeVideo("in.rm", 0.5);
    const auto& reference = Reference(src);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.vhooks.front());
        const std::string out = dir.File("box.mkv");
        ASSERT_EQ(Convert(src, out,
                          [&] {
                              for (const std::string& args : c.vhooks)
                                  core.SetOption("vhook", SamplePlugin("box") + " " + args);
                          }),
                  "");
        const auto pictures = Pictures(out);
        ASSERT_EQ(pictures.size(), reference.size());
        for (size_t i = 0; i < pictures.size(); ++i) {
            const DecodedPicture& p = pictures[i];
            for (int y = 0; y < p.height; ++y)
                for (int x = 0; x < p.width; ++x) {
                    int expected = reference[i].Y(x, y);
                    for (const Box& b : c.boxes)
                        if (x >= b.left && x < b.left + b.width && y >= b.top && y < b.top + b.height) expected = b.luma;
                    ASSERT_EQ(p.Y(x, y), expected) << "picture " << i << " at " << x << "," << y;
                }
        }
    }
}

// Ranges of 1 to 2 s and 5 to 6 s without a before-hook callback.
TEST_F(HookPictureTest, HookRangesRunThePluginsOnlyInsideThemAndEndAfterTheLast) {
    const std::string src = MakeVideo("in.rm", 7.0);
    const auto& reference = Reference(src);
    const std::string out = dir.File("ranges.mkv");
    ASSERT_EQ(Convert(src, out,
                      [&] {
                          core.SetOption("vhook", SamplePlugin("grey"));
                          core.SetHookRanges({{5000000, 6000000}, {1000000, 2000000}});
                      }),
              "");
    EXPECT_FALSE(core.hooks_in_use);  // the first picture after 6 s turned them off
    const auto pictures = Pictures(out);
    ASSERT_EQ(pictures.size(), reference.size());
    for (size_t i = 0; i < pictures.size(); ++i) {
        const double t = pictures[i].seconds;
        const bool inside = (t >= 1.0 && t <= 2.0) || (t >= 5.0 && t <= 6.0);
        EXPECT_EQ(ChromaFlat(pictures[i]), inside) << "at " << t << " s";
        if (!inside) EXPECT_TRUE(SamePicture(pictures[i], reference[i])) << "at " << t << " s";
    }
    for (double t : {0.5, 3.0, 6.5}) EXPECT_FALSE(ChromaFlat(At(pictures, t))) << t;
    for (double t : {1.5, 5.5}) EXPECT_TRUE(ChromaFlat(At(pictures, t))) << t;
}

// The before-hook callback decides per picture; its answer is where the next
// call starts; haStop and a throwing callback end the plug-ins for good.
TEST_F(HookPictureTest, TheBeforeHookCallbackDecidesForEachPicture) {
    struct Case {
        std::string name;
        std::function<void(int call, THookAction& action)> decide;
        std::vector<bool> grey;  // per picture
        int calls;
        bool logged;
    };
    const Case cases[] = {
        {"ignore the second",
         [](int call, THookAction& action) {
             if (call == 2) action = haIgnore;
             else if (call == 4) action = haContinue;
         },
         {true, false, false, true, true}, 5, false},
        {"stop at the third",
         [](int call, THookAction& action) {
             if (call == 3) action = haStop;
         },
         {true, true, false, false, false}, 3, false},
        {"throw at the second",
         [](int call, THookAction&) {
             if (call == 2) throw std::runtime_error("no more");
         },
         {true, false, false, false, false}, 2, true},
    };
    const std::string src = MakeVideo("in.rm", 0.5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int calls = 0;
        std::vector<THookAction> seen;
        lines.clear();
        const std::string out = dir.File("before.mkv");
        ASSERT_EQ(Convert(src, out,
                          [&] {
                              core.SetOption("vhook", SamplePlugin("grey"));
                              core.OnBeforeHook = [&](TCustomFFmpeg*, THookAction& action, int64_t) {
                                  seen.push_back(action);
                                  c.decide(++calls, action);
                              };
                          }),
                  "");
        core.OnBeforeHook = nullptr;
        EXPECT_EQ(calls, c.calls);
        if (c.name == "ignore the second") EXPECT_EQ(seen[2], haIgnore);  // the answer carries over
        EXPECT_EQ(Logged("0 Error occurs OnBeforeHook: no more"), c.logged);
        const auto pictures = Pictures(out);
        ASSERT_EQ(pictures.size(), c.grey.size());
        for (size_t i = 0; i < pictures.size(); ++i) EXPECT_EQ(ChromaFlat(pictures[i]), c.grey[i]) << i;
    }
}

// A blue mark painted by the custom-hook callback on the bitmap.
void PaintMark(TBitmap* bitmap) {
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            uint8_t* px = bitmap->Pixel(x, y);
            px[0] = 255;
            px[1] = 0;
            px[2] = 0;
        }
}

// Its chroma away from its edges, where the scaler's filter reaches past it.
bool Marked(const DecodedPicture& p) {
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            if (p.U(x, y) < 220) return false;
    return true;
}

TEST_F(HookPictureTest, TheCustomHookPaintsStopsOrFailsPictureByPicture) {
    struct Case {
        std::string name;
        int stop_at;      // the call that sets stop, 0 never
        int throw_at;     // every call from this one on throws, 0 never
        int marked;       // pictures carrying the mark, from the first
        int calls;
    };
    const Case cases[] = {
        {"paints every picture", 0, 0, 5, 5},
        {"stops at the third", 3, 0, 3, 3},
        {"throws from the second on", 0, 2, 1, 5},
    };
    const std::string src = MakeVideo("in.rm", 0.5);
    const auto& reference = Reference(src);
    ASSERT_EQ(reference.size(), 5u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lines.clear();
        std::vector<int> frames;
        std::vector<int64_t> times;
        bool size_right = true;
        const std::string out = dir.File("custom.mkv");
        ASSERT_EQ(Convert(src, out,
                          [&] {
                              core.OnCustomHook = [&](TCustomFFmpeg*, TBitmap* bitmap, int frame, int64_t pts,
                                                      bool& update, bool& stop) {
                                  frames.push_back(frame);
                                  times.push_back(pts);
                                  size_right = size_right && bitmap->Width() == 64 && bitmap->Height() == 48;
                                  EXPECT_TRUE(update);
                                  PaintMark(bitmap);
                                  const int call = static_cast<int>(frames.size());
                                  if (c.throw_at && call >= c.throw_at) throw Exception("painted badly");
                                  if (call == c.stop_at) stop = true;
                              };
                          }),
                  "");
        EXPECT_EQ(static_cast<bool>(core.OnCustomHook), c.stop_at == 0);  // stop detaches it
        core.OnCustomHook = nullptr;
        EXPECT_TRUE(size_right);
        ASSERT_EQ(static_cast<int>(frames.size()), c.calls);
        for (int i = 0; i < c.calls; ++i) {
            EXPECT_EQ(frames[i], i + 1);
            EXPECT_EQ(times[i], int64_t{100000} * i);
        }
        EXPECT_EQ(Logged("0 Error occurs OnCustomHook: painted badly"), c.throw_at != 0);
        const auto pictures = Pictures(out);
        ASSERT_EQ(pictures.size(), reference.size());
        for (int i = 0; i < static_cast<int>(pictures.size()); ++i) {
            EXPECT_EQ(Marked(pictures[i]), i < c.marked) << "picture " << i;
            // Left as it was: not even the trip to RGB and back touched it.
            if (i >= c.marked) EXPECT_TRUE(SamePicture(pictures[i], reference[i])) << "picture " << i;
        }
    }
}

// The hooks see every decoded picture, numbered from the input's first, also
// those before an output start time; the output starts at it with the hooks'
// paint on its pictures.
TEST_F(HookPictureTest, HooksSeeThePicturesBeforeTheStartTimeToo) {
    struct Case {
        const char* ss;
        size_t written;
    };
    const Case cases[] = {{"", 5}, {"0.3", 2}};
    const std::string src = MakeVideo("in.rm", 0.5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ss);
        std::vector<int> frames;
        std::vector<int64_t> times;
        int before_calls = 0;
        const std::string out = dir.File("ss.mkv");
        ASSERT_EQ(Convert(src, out,
                          [&] {
                              if (*c.ss) core.SetOption("ss", c.ss);
                              core.OnCustomHook = [&](TCustomFFmpeg*, TBitmap* bitmap, int frame, int64_t pts,
                                                      bool&, bool&) {
                                  frames.push_back(frame);
                                  times.push_back(pts);
                                  PaintMark(bitmap);
                              };
                          }),
                  "");
        core.OnCustomHook = nullptr;
        EXPECT_EQ(frames, (std::vector<int>{1, 2, 3, 4, 5}));
        EXPECT_EQ(times, (std::vector<int64_t>{0, 100000, 200000, 300000, 400000}));
        const auto pictures = Pictures(out);
        ASSERT_EQ(pictures.size(), c.written);
        for (const DecodedPicture& p : pictures) EXPECT_TRUE(Marked(p)) << "at " << p.seconds << " s";

        ASSERT_EQ(Convert(src, out,
                          [&] {
                              if (*c.ss) core.SetOption("ss", c.ss);
                              core.SetOption("vhook", SamplePlugin("grey"));
                              core.OnBeforeHook = [&](TCustomFFmpeg*, THookAction&, int64_t) { ++before_calls; };
                          }),
                  "");
        core.OnBeforeHook = nullptr;
        EXPECT_EQ(before_calls, 5);
        EXPECT_EQ(Pictures(out).size(), c.written);
    }
}

// A preview window standing in for the window's, recording what it gets.
struct TRecordingWindow : TPreviewWindow {
    struct TLog {
        std::atomic<int> made{0}, shown{0}, destroyed{0};
        int close_after = 0;  // the user closes it after this many pictures; 0 never
        std::vector<int> frames;
        std::vector<std::string> captions;
        int width = 0, height = 0;
    };
    explicit TRecordingWindow(TLog& log) : log_(log) { ++log_.made; }
    ~TRecordingWindow() override { ++log_.destroyed; }
    bool Show(const TBitmap& bitmap, int frame, int64_t pts) override {
        if (log_.close_after && log_.shown >= log_.close_after) return false;
        ++log_.shown;
        log_.frames.push_back(frame);
        log_.captions.push_back(PreviewTimeText(pts));
        log_.width = bitmap.Width();
        log_.height = bitmap.Height();
        return true;
    }
    TLog& log_;
};

// Pictures 40 ms apart on the preview clock: one in three is shown, to the
// callback or to the window; a window the user closes gets no more, and the
// conversion goes on to the end.
TEST_F(HookPictureTest, PreviewsComeAtMostEveryTenthOfASecond) {
    struct Case {
        std::string name;
        uint8_t flags;
        int close_after;
        int shown;
    };
    const Case cases[] = {
        {"callback", 2, 0, 10},
        {"window", 1, 0, 10},
        {"both: the callback wins", 3, 0, 10},
        {"window closed after two", 1, 2, 2},
    };
    const std::string src = MakeVideo("in.rm", 3.0);
    const auto& reference = Reference(src);
    ASSERT_EQ(reference.size(), 30u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TRecordingWindow::TLog window;
        window.close_after = c.close_after;
        std::vector<int> callback_frames;
        int64_t clock = 0;
        const std::string out = dir.File("preview.mkv");
        ASSERT_EQ(Convert(src, out,
                          [&] {
                              core.SetPreviewFlags(c.flags, 0);
                              core.PreviewClock = [&] { return clock += 40000; };
                              core.NewPreviewWindow = [&](const std::string&) { return std::make_unique<TRecordingWindow>(window); };
                              core.OnPreviewBitmap = [&](TCustomFFmpeg*, TBitmap* bitmap, int frame, int64_t) {
                                  EXPECT_EQ(bitmap->Width(), 64);
                                  callback_frames.push_back(frame);
                              };
                          }),
                  "");
        const bool to_window = c.flags == 1;
        const std::vector<int>& frames = to_window ? window.frames : callback_frames;
        EXPECT_EQ(static_cast<int>(frames.size()), c.shown);
        for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i], 3 * static_cast<int>(i + 1));
        if (to_window) {
            EXPECT_EQ(window.made, 1);
            EXPECT_EQ(window.destroyed, 1);  // closed by the user, or at the task's end
            EXPECT_EQ(window.captions.front(), "00:00:00.200");
            EXPECT_EQ(window.width, 64);
            EXPECT_EQ(window.height, 48);
            EXPECT_EQ(core.preview_flags & 1, c.close_after ? 0 : 1);
        } else {
            EXPECT_EQ(window.made, 0);
        }
        EXPECT_EQ(Pictures(out).size(), reference.size());
        core.SetPreviewFlags(0, 3);
        core.PreviewClock = nullptr;
        core.NewPreviewWindow = nullptr;
        core.OnPreviewBitmap = nullptr;
    }
}

// Turning the window's bit off closes the window of a task; turning it on
// again makes a new one on the next picture.
TEST_F(HookPictureTest, ClearingTheWindowBitClosesTheWindow) {
    TRecordingWindow::TLog window;
    core.NewPreviewWindow = [&](const std::string&) { return std::make_unique<TRecordingWindow>(window); };
    TFramePtr picture(avutil.av_frame_alloc());
    picture->width = 32;
    picture->height = 16;
    picture->format = AV_PIX_FMT_YUV420P;
    ASSERT_GE(avutil.av_frame_get_buffer(picture.get(), 0), 0);
    int64_t clock = 0;
    core.PreviewClock = [&] { return clock += 200000; };
    core.run = std::make_unique<TRunState>();
    core.SetPreviewFlags(1, 0);
    core.PreviewFrame(picture.get(), 0);
    EXPECT_EQ(window.made, 1);
    core.SetPreviewFlags(0, 1);
    EXPECT_EQ(window.destroyed, 1);
    core.PreviewFrame(picture.get(), 0);
    EXPECT_EQ(window.shown, 1);
    core.SetPreviewFlags(1, 0);
    core.PreviewFrame(picture.get(), INT64_MIN);
    EXPECT_EQ(window.made, 2);
    EXPECT_EQ(window.captions.back(), "N/A");
    core.FreeFiles();
    EXPECT_EQ(window.destroyed, 2);
}

}  // namespace
}  // namespace hooktest

namespace hooktest {
namespace {

// Copied video is never decoded, so nothing can hook or preview it; the first
// of the three that is asked for is named.
TEST_F(HookPictureTest, CopiedVideoRefusesHooksAndPreviewsInThatOrder) {
    struct Case {
        bool custom, vhook;
        uint8_t preview;
        std::string error;
    };
    const Case cases[] = {
        {true, true, 1, "-vcodec copy and CustomHook are incompatible (frames are not decoded)"},
        {false, true, 2, "-vcodec copy and -vhook are incompatible (frames are not decoded)"},
        {false, false, 1, "-vcodec copy and PostHooks are incompatible (frames are not decoded)"},
        {false, false, 0, ""},
    };
    const std::string src = MakeVideo("in.rm", 0.3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        const std::string out = dir.File("copy.rm");
        EXPECT_EQ(Convert(src, out,
                          [&] {
                              core.SetCodecName('v', "copy");
                              if (c.custom) core.OnCustomHook = [](TCustomFFmpeg*, TBitmap*, int, int64_t, bool&, bool&) {};
                              if (c.vhook) core.SetOption("vhook", SamplePlugin("grey"));
                              core.SetPreviewFlags(c.preview, 0);
                          }),
                  c.error);
        EXPECT_EQ(std::filesystem::exists(out), c.error.empty());
        core.OnCustomHook = nullptr;
        core.SetPreviewFlags(0, 3);
    }
}

}  // namespace
}  // namespace hooktest
