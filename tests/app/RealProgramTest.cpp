// The real program on a real (virtual) X display: it starts with a file on its
// command line, shows it, and closes cleanly when asked to end; and it converts
// a batch with a broken file in it without anyone at the keyboard.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/AudioCheck.h"
#include "tests/common/Fixtures.h"
#include "tests/common/VideoCheck.h"

extern char** environ;

using namespace ardentix::test;
namespace fs = std::filesystem;

namespace {

std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string p = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= p.size()) {
        const size_t end = p.find(':', start);
        const std::string dirName = p.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = dirName + "/" + name;
        if (!dirName.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return {};
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            posix_spawn_file_actions_t* actions) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, args[0].c_str(), actions, nullptr, argv.data(), envp.data()) != 0) return -1;
    return pid;
}

// The environment of this process with some variables replaced.
std::vector<std::string> Environment(const std::vector<std::pair<std::string, std::string>>& set) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string key = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& s : set) replaced = replaced || s.first == key;
        if (!replaced) env.push_back(entry);
    }
    for (const auto& s : set) env.push_back(s.first + "=" + s.second);
    return env;
}

// Waits for a child; -1 when it does not end in time (it is then killed).
int WaitExit(pid_t pid, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

// A private X server, ended with the test.
struct TVirtualDisplay {
    pid_t pid = -1;
    std::string display;
    explicit TVirtualDisplay(const std::string& xvfb, const std::string& screen = "1280x800x24") {
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid = Spawn({xvfb, "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp"},
                    Environment({}), &actions);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        // The server writes its display number once it accepts clients.
        std::string number;
        char c;
        while (pid > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(fds[0]);
        if (!number.empty()) display = ":" + number;
    }
    ~TVirtualDisplay() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        WaitExit(pid, std::chrono::seconds(20));
    }
};

// Starts the program on the display with the file listed, waits for its picture
// and ends it the way a desktop does; the exit status, or -1 after a failure.
int RunForScreenshot(const std::string& program, const std::string& file, const std::string& shot,
                     const std::vector<std::pair<std::string, std::string>>& env,
                     const std::function<void()>& while_shown = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = shot + ".log";
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const pid_t pid = Spawn({program, "--screenshot", shot, file}, Environment(env), &actions);
    posix_spawn_file_actions_destroy(&actions);
    if (pid <= 0) return -1;

    // The picture is saved once the file is listed.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!fs::exists(shot) && std::chrono::steady_clock::now() < end) {
        int status;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            ADD_FAILURE() << "the program ended early:\n" << ReadFileBytes(log);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the file is written whole
    EXPECT_TRUE(fs::exists(shot)) << ReadFileBytes(log);
    if (while_shown) while_shown();
    ::kill(pid, SIGTERM);
    const int status = WaitExit(pid, std::chrono::seconds(60));
    EXPECT_EQ(status, 0) << ReadFileBytes(log);
    return status;
}

// What an unattended batch of the real program left.
struct TBatchRun {
    std::string summary;  // standard output: the summary at the end
    std::string errors;   // standard error
    int status = -1;      // exit status after the desktop asked it to end
};

// The real program on a display of its own, with a home folder (dir/home) and
// a settings folder (dir/config) of its own.
class RealProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(program)) << "build the program first: " << program;
        const std::string xvfb = FindOnPath("Xvfb");
        if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed";
        x = std::make_unique<TVirtualDisplay>(xvfb);
        ASSERT_FALSE(x->display.empty()) << "Xvfb did not start";
        fs::create_directories(dir.File("home"));
    }

    // The program's environment: the display, the folders above, the locale.
    std::vector<std::pair<std::string, std::string>> Desktop(const std::string& lang = "C.UTF-8") const {
        return {{"DISPLAY", x->display},
                {"QT_QPA_PLATFORM", "xcb"},
                {"HOME", dir.File("home")},
                {"XDG_CONFIG_HOME", dir.File("config")},
                {"XDG_RUNTIME_DIR", dir.Path()},
                {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.File("no-bus")},
                {"LANG", lang},
                {"LC_ALL", ""},
                {"LC_MESSAGES", ""},
                {"LANGUAGE", ""},
                {"ASAN_OPTIONS", "detect_leaks=0"}};
    }

    // Runs `ardentix --convert FILES` on the display with the settings text in a
    // home of its own until the summary is written; tick is called every 100 ms
    // meanwhile. Nobody clicks anything. Output folder: dir/out.
    TBatchRun RunBatch(const std::vector<std::string>& files, const std::string& settings,
                       const std::function<void()>& tick = {}) {
        fs::create_directories(dir.File("config/Ardentix"));
        std::ofstream(dir.File("config/Ardentix/Options.ini")) << "[Options]\nOutputPath=" << dir.File("out") << "\n"
                                                               << settings;
        const auto env = Environment(Desktop());
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string log = dir.File("program.log"), errors = dir.File("errors.log");
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> args = {program, "--convert"};
        args.insert(args.end(), files.begin(), files.end());
        const pid_t pid = Spawn(args, env, &actions);
        posix_spawn_file_actions_destroy(&actions);
        TBatchRun run;
        if (pid <= 0) return run;

        // The summary is written once the batch has ended; the window stays open.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(180);
        while (ReadFileBytes(log).find("Converted:") == std::string::npos && std::chrono::steady_clock::now() < end) {
            int status;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                ADD_FAILURE() << "the program ended early:\n" << ReadFileBytes(errors);
                return run;
            }
            if (tick) tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the whole summary is written
        run.summary = ReadFileBytes(log);
        ::kill(pid, SIGTERM);
        run.status = WaitExit(pid, std::chrono::seconds(60));
        run.errors = ReadFileBytes(errors);
        return run;
    }

    const std::string program = std::string(ARDENTIX_TEST_BIN_DIR) + "/../app/ardentix";
    TempDir dir;
    std::unique_ptr<TVirtualDisplay> x;
};

}  // namespace

TEST_F(RealProgram, StartsWithAFileOnXAndClosesCleanly) {
    const std::string song = MakeRealAc3(dir, "song.rm", 2.0);
    const std::string shot = dir.File("window.png");
    ASSERT_EQ(RunForScreenshot(program, song, shot, Desktop()), 0);

    const QImage image(QString::fromStdString(shot));
    ASSERT_FALSE(image.isNull());
    EXPECT_GT(image.width(), 600);
    EXPECT_GT(image.height(), 300);
    // Closing kept the settings; the output folder holds nothing from the trial.
    const std::string settings = ReadFileBytes(dir.File("config/Ardentix/Options.ini"));
    EXPECT_NE(settings.find("[Options]"), std::string::npos);
    // No folder was chosen, so none is kept, and none is made before a run.
    EXPECT_NE(settings.find("OutputPath=\n"), std::string::npos) << settings;
    EXPECT_FALSE(fs::exists(dir.File("home/Music/Ardentix")));
}

// On a 1366x768 screen at 200 % the whole window fits, as the X server
// places it (xwininfo): the settings scroll instead of being cut off.
TEST_F(RealProgram, TheWindowFitsASmallScreenAtTwiceTheScale) {
    const std::string xwininfo = FindOnPath("xwininfo");
    if (xwininfo.empty()) GTEST_SKIP() << "xwininfo is not installed (x11-utils)";
    x = std::make_unique<TVirtualDisplay>(FindOnPath("Xvfb"), "1366x768x24");
    ASSERT_FALSE(x->display.empty()) << "Xvfb did not start";
    const std::string song = MakeRealAc3(dir, "song.rm", 1.0);
    auto env = Desktop();
    env.push_back({"QT_SCALE_FACTOR", "2"});
    std::string tree;
    ASSERT_EQ(RunForScreenshot(program, song, dir.File("small.png"), env, [&] {
                  const std::string file = dir.File("tree.txt");
                  const std::string command =
                      "DISPLAY=" + x->display + " " + xwininfo + " -root -tree >" + file + " 2>/dev/null";
                  if (std::system(command.c_str()) == 0) tree = ReadFileBytes(file);
              }),
              0);
    // The main window: the largest of the program's top windows.
    const std::regex window(R"re("Ardentix[^"]*": \(.*\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+))re");
    int width = 0, height = 0, left = 0, top = 0;
    for (auto it = std::sregex_iterator(tree.begin(), tree.end(), window); it != std::sregex_iterator(); ++it)
        if (std::stoi((*it)[1]) * std::stoi((*it)[2]) > width * height)
            width = std::stoi((*it)[1]), height = std::stoi((*it)[2]), left = std::stoi((*it)[3]), top = std::stoi((*it)[4]);
    ASSERT_GT(width, 0) << tree;
    EXPECT_GE(left, 0);
    EXPECT_GE(top, 0);
    EXPECT_LE(left + width, 1366) << width << "x" << height << "+" << left << "+" << top;
    EXPECT_LE(top + height, 768) << width << "x" << height << "+" << left << "+" << top;
}

// The program takes its language from the system's locale: the same window with the
// same file looks different in German and in Chinese than in English, and the same
// again under a locale it has no translation for (Mexican Spanish, whose numbers are
// written as in English: the window's numbers follow the locale).
TEST_F(RealProgram, SpeaksTheLanguageOfTheLocale) {
    const std::string song = MakeRealAc3(dir, "song.rm", 1.0);
    // One home for all: the output folder shown is the same.
    std::map<std::string, QImage> pictures;
    for (const char* lang : {"en_US.UTF-8", "es_MX.UTF-8", "de_DE.UTF-8", "zh_CN.UTF-8"}) {
        SCOPED_TRACE(lang);
        const std::string shot = dir.File(std::string(lang) + ".png");
        ASSERT_EQ(RunForScreenshot(program, song, shot, Desktop(lang)), 0);
        pictures[lang] = QImage(QString::fromStdString(shot)).convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(pictures[lang].isNull());
    }
    EXPECT_EQ(pictures["es_MX.UTF-8"], pictures["en_US.UTF-8"]) << "a locale without a translation shows English";
    EXPECT_NE(pictures["de_DE.UTF-8"], pictures["en_US.UTF-8"]);
    EXPECT_NE(pictures["zh_CN.UTF-8"], pictures["en_US.UTF-8"]);
    EXPECT_NE(pictures["zh_CN.UTF-8"], pictures["de_DE.UTF-8"]);
}

// An unattended batch through the real program: three files, the middle one
// with no sound to convert. Nobody clicks anything; the batch ends by itself,
// the broken file is told as failed in the summary, the others are whole MP3s.
TEST_F(RealProgram, ABatchWithABrokenFileRunsToItsEndUnattended) {
    const std::string first = MakeRealAc3(dir, "first.rm", 2.0, 44100, 2, {440, 440});
    const std::string broken = MakeRealVideo(dir, "broken.rm", 1.0, "rv10", RealAudio::None);
    const std::string last = MakeRealAudio144(dir, "last.ra", 1.5, 660);
    // Not a media file at all: refused when listed, told on the terminal, no box.
    const std::string garbage = MakeRandom(dir, "garbage.rm", 4096, 7, true);
    const std::string out = dir.File("out");
    const TBatchRun run = RunBatch({first, garbage, broken, last}, "");
    EXPECT_EQ(run.status, 0) << run.errors;
    const std::string& summary = run.summary;

    EXPECT_EQ(summary.rfind("File conversion process finished.\n3 files: 2 converted, 1 failed.\n", 0), 0u) << summary;
    EXPECT_NE(summary.find("Failed:\n  " + broken + ": The input has nothing to write as this format: Output file #0 "
                                                     "does not contain any stream\n"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("  " + first + " \u2192 " + out + "/first.mp3\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("  " + last + " \u2192 " + out + "/last.mp3\n"), std::string::npos) << summary;
    const DecodedAudio a = DecodeMp3(out + "/first.mp3");
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_NEAR(a.Seconds(), 2.0, 0.15);
    EXPECT_NEAR(DominantFrequency(a.Channel(0), a.rate), 440, 5);
    const DecodedAudio b = DecodeMp3(out + "/last.mp3");
    ASSERT_TRUE(b.ok) << b.error;
    EXPECT_NEAR(b.Seconds(), 1.5, 0.15);
    EXPECT_NEAR(DominantFrequency(b.Channel(0), b.rate), 660, 8);
    EXPECT_FALSE(fs::exists(out + "/broken.mp3"));
    EXPECT_NE(run.errors.find(garbage + ": Cannot read the input: "), std::string::npos) << run.errors;
}

// A RealVideo file to MP4 through the real program with "Show preview" ticked:
// the preview window appears on the display (as the X server lists it) with a
// time as its caption, and the MP4 is whole (as mediainfo reads it).
TEST_F(RealProgram, AVideoConvertsToMp4WithThePreviewShowing) {
    const std::string xwininfo = FindOnPath("xwininfo");
    if (xwininfo.empty()) GTEST_SKIP() << "xwininfo is not installed (x11-utils)";
    const std::string clip = MakeFixture(dir, "holiday.rmvb", "rm-video",
                                         {"--video", "rv20", "--fps", "25", "--size", "320x240", "--seconds", "20"});
    const std::string out = dir.File("out");
    // The X server's own list of windows, looked at while the batch runs.
    const std::regex previewWindow(R"re("holiday\.rmvb .{1,8} (\d\d:\d\d:\d\d\.\d{3})": \(.*\)\s+320x240\+)re");
    std::string caption;
    const TBatchRun run = RunBatch({clip}, "OutputFormat=mp4\nShowPreview=True\n", [&] {
        if (!caption.empty()) return;
        const std::string tree = dir.File("tree.txt");
        const std::string command =
            "DISPLAY=" + x->display + " " + xwininfo + " -root -tree >" + tree + " 2>/dev/null";
        std::smatch m;
        const std::string windows = std::system(command.c_str()) == 0 ? ReadFileBytes(tree) : "";
        if (std::regex_search(windows, m, previewWindow)) caption = m[1];
    });
    EXPECT_EQ(run.status, 0) << run.errors;
    const std::string& summary = run.summary;

    EXPECT_FALSE(caption.empty()) << "no 320x240 preview window captioned with a time was shown";
    EXPECT_NE(summary.find("  " + clip + " \u2192 " + out + "/holiday.mp4\n"), std::string::npos) << summary;
    if (!HaveMediaInfo()) GTEST_SKIP() << "mediainfo is not installed";
    const std::string mp4 = out + "/holiday.mp4";
    EXPECT_EQ(MediaInfoField(mp4, "General", "Format"), "MPEG-4");
    EXPECT_EQ(MediaInfoField(mp4, "Video", "Format"), "AVC");
    EXPECT_EQ(MediaInfoField(mp4, "Video", "Width"), "320");
    EXPECT_EQ(MediaInfoField(mp4, "Video", "Height"), "240");
    EXPECT_EQ(MediaInfoField(mp4, "Video", "FrameCount"), "500");
    EXPECT_EQ(MediaInfoField(mp4, "Audio", "Format"), "AAC");
}
