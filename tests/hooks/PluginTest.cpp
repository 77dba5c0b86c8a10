// Plug-in loading: the argument splitting, every answer of adding a hook with
// its library log line, helpers from the plug-in's own folder, the order of
// the hooks and their release.
#include <dlfcn.h>

#include <algorithm>
#include <filesystem>

#include "tests/hooks/HookTestSupport.h"

namespace hooktest {
namespace {

TEST(HookArguments, SplitAtBarWhenThereIsOneElseAtSpaces) {
    struct Case {
        std::string text;
        std::vector<std::string> parts;
    };
    const Case cases[] = {
        {"/lib/box.so 1 2", {"/lib/box.so", "1", "2"}},
        {"  /lib/box.so   1  ", {"/lib/box.so", "1"}},
        {"/my hooks/box.so|1|2", {"/my hooks/box.so", "1", "2"}},
        {"/my hooks/box.so|a b||c|", {"/my hooks/box.so", "a b", "c"}},
        {"", {}},
        {"|", {}},
        {"   ", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitHookArguments(c.text), c.parts) << "'" << c.text << "'";

    std::string many = "p.so";
    for (int i = 1; i < 80; ++i) many += " " + std::to_string(i);
    const std::vector<std::string> parts = SplitHookArguments(many);
    ASSERT_EQ(parts.size(), 63u);
    EXPECT_EQ(parts.back(), "62");
}

TEST(PreviewTime, TextOfMicroseconds) {
    const std::pair<int64_t, std::string> cases[] = {
        {0, "00:00:00.000"},
        {3723004000, "01:02:03.004"},
        {999, "00:00:00.000"},
        {1999, "00:00:00.001"},
        {59999999, "00:00:59.999"},
        {int64_t{100} * 3600 * 1000000, "100:00:00.000"},  // hours do not wrap at 24
        {INT64_MIN, "N/A"},
    };
    for (const auto& [pts, text] : cases) EXPECT_EQ(PreviewTimeText(pts), text) << pts;
}

class PluginTest : public HookCoreTest {};

// Each way adding a hook can end: its answer, its library log line, and
// whether the "vhook" option takes it.
TEST_F(PluginTest, EveryAnswerOfAddingAHookWithItsLogLine) {
    struct Case {
        std::string text;
        int result;
        std::string log;  // "" none
    };
    const std::string missing = dir.File("missing.so");
    const Case cases[] = {
        {"", kHookBadPlugin, ""},
        {missing, kHookCannotLoad, missing + ": cannot open shared object file"},
        {TestPlugin("noprocess"), kHookBadPlugin, "Failed to find Process entrypoint in " + TestPlugin("noprocess") + "\n"},
        {TestPlugin("nocfg") + " 1", kHookBadPlugin,
         "Failed to find Configure entrypoint in " + TestPlugin("nocfg") + "\n"},
        {TestPlugin("failcfg"), kHookConfigureFailed, "Failed to Configure " + TestPlugin("failcfg") + "\n"},
        {TestPlugin("nocfg"), 0, ""},
        {SamplePlugin("box") + " 1 2 3 4", 0, ""},
        {SamplePlugin("box") + " 1 2 3", kHookConfigureFailed, "Failed to Configure"},
        {SamplePlugin("box") + " 1 2 3 x", kHookConfigureFailed, "Failed to Configure"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        {
            TLibraryLog log;
            TFrameHookList hooks;
            EXPECT_EQ(hooks.Add(SplitHookArguments(c.text)), c.result);
            EXPECT_EQ(hooks.Count(), c.result == 0 ? 1u : 0u);
            if (c.log.empty())
                EXPECT_EQ(log.Text(), "");
            else
                EXPECT_NE(log.Text().find(c.log), std::string::npos) << log.Text();
        }
        if (c.text.empty()) continue;
        core.ResetOptionState();
        try {
            core.SetOption("vhook", c.text);
            EXPECT_EQ(c.result, 0);
            EXPECT_TRUE(core.hooks_in_use);
        } catch (const Exception& e) {
            EXPECT_NE(c.result, 0);
            EXPECT_EQ(e.Message, "Failed to add video hook function: " + c.text);
            EXPECT_FALSE(core.hooks_in_use);
        }
        core.FreeFiles();
    }
}

using RecorderText = const char* (*)();
using RecorderClear = void (*)();

// A plug-in in a folder with a space, named with "|": its Configure gets every
// part, Process the picture's format, size and time, Release its context; a
// second task naming the same path shares the one loaded library.
TEST_F(PluginTest, AFolderWithASpaceGivenWithBarsAndTheCallsAPluginGets) {
    const std::filesystem::path folder = std::filesystem::path(dir.Path()) / "my hooks";
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "recorder.so").string();
    std::filesystem::copy_file(TestPlugin("recorder"), path);
    std::string error;
    void* module = LoadHookLibrary(path, error);
    ASSERT_NE(module, nullptr) << error;
    const auto text = reinterpret_cast<RecorderText>(::dlsym(module, "RecorderText"));
    const auto clear = reinterpret_cast<RecorderClear>(::dlsym(module, "RecorderClear"));
    ASSERT_TRUE(text && clear);
    clear();

    const std::string src = MakeVideo("in.rm", 0.3);
    ASSERT_EQ(Convert(src, dir.File("out.mkv"), [&] { core.SetOption("vhook", path + "|left arg|2"); }), "");
    const std::string calls = text();
    EXPECT_EQ(calls.rfind("configure 3 [" + path + "] [left arg] [2]\n", 0), 0u) << calls;
    EXPECT_NE(calls.find("process 3 0 64x48 0\n"), std::string::npos) << calls;
    EXPECT_NE(calls.find("process 3 0 64x48 100000\n"), std::string::npos) << calls;
    EXPECT_EQ(calls.substr(calls.size() - 10), "release 3\n") << calls;

    TCustomFFmpeg other;
    other.ResetOptionState();
    EXPECT_THROW(other.SetOption("vhook", path), Exception);  // split at its space
    other.SetOption("vhook", path + "|");
    EXPECT_EQ(LoadHookLibrary(path, error), module);
    other.FreeFiles();
}

// The plug-in needs a library that only its own folder has; the process's
// current folder is not touched to find it.
TEST_F(PluginTest, ThePluginsHelperIsLoadedFromItsOwnFolder) {
    const std::filesystem::path folder = std::filesystem::path(dir.Path()) / "needy hooks";
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "needy.so").string();
    std::filesystem::copy_file(TestPlugin("needy"), path);
    std::filesystem::copy_file(std::string(ARDENTIX_TEST_HOOKS) + "/libardxhelper.so", folder / "libardxhelper.so");
    const std::vector<std::string> needed = NeededLibraries(path);
    EXPECT_NE(std::find(needed.begin(), needed.end(), "libardxhelper.so"), needed.end());
    EXPECT_TRUE(NeededLibraries(dir.File("missing.so")).empty());
    EXPECT_TRUE(NeededLibraries(MakeRandom(dir, "random.so", 4096, 3)).empty());
    EXPECT_TRUE(NeededLibraries(MakeCut(path, 10, dir.File("cut.so"))).empty());

    // Nothing else could find the helper.
    EXPECT_EQ(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL), nullptr);
    const auto before = std::filesystem::current_path();
    std::string error;
    EXPECT_NE(LoadHookLibrary(path, error), nullptr) << error;
    EXPECT_EQ(std::filesystem::current_path(), before);

    const std::string src = MakeVideo("in.rm", 0.3);
    const std::string out = dir.File("out.mkv");
    ASSERT_EQ(Convert(src, out, [&] { core.SetOption("vhook", path + "|"); }), "");
    for (const DecodedPicture& p : Pictures(out))
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) ASSERT_EQ(p.Y(x, y), 16) << x << "," << y;
}

}  // namespace
}  // namespace hooktest
