// Ardentix: the converter window.
//   ardentix [--convert] [--screenshot FILE] [MEDIA FILE...]
//   ardentix --help | --version
// Files on the command line are added to the job list. --convert starts converting
// them at once and writes the summary on standard output too when the batch ends.
// --screenshot saves a picture of the window once they are listed, or with
// --convert once a quarter of the batch is done (for the documentation).
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "app/FrmMain.h"
#include "app/Logo.h"
#include "app/PowerOff.h"
#include "app/Previewer.h"
#include "app/QtDialogs.h"
#include "app/Translations.h"
#include "batch/Version.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnTerminateSignal(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

// A request to end (logout, kill) closes the window the normal way, so the engine
// stops and the settings are kept.
void CloseOnTerminateSignal(TForm1& window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char c;
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &c, 1);
        window.CloseWithoutAsking();
    });
    struct sigaction sa {};
    sa.sa_handler = OnTerminateSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
}

// A batch started from the command line runs unattended: while its files are
// listed, a file refused is told on the terminal instead of in a box that would
// hold the batch until someone clicks.
class TCommandLineDialogs : public TQtDialogs {
public:
    bool ToTerminal = false;
    void ShowMessage(QWidget* owner, const std::string& text, const std::string& title, TMessageIcon icon) override {
        if (!ToTerminal) return TQtDialogs::ShowMessage(owner, text, title, icon);
        std::fprintf(stderr, "%s\n", text.c_str());
    }
};

// Errors that reach the event loop go to the window's error handler instead of
// ending the program.
class TArdentixApplication : public QApplication {
public:
    using QApplication::QApplication;
    TForm1* Form = nullptr;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            if (Form) Form->ApplicationException(e);
            return false;
        }
    }
};

// --help and --version are answered on the terminal, before anything needs a
// display; a file of such a name is given as ./--help. Answers whether one was.
bool AnsweredOnTerminal(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--version") {
            std::printf("ardentix %s\n", ProgramVersion().c_str());
            return true;
        }
        if (arg != "--help" && arg != "-h") continue;
        std::printf(
            "usage: ardentix [--convert] [FILE...]\n"
            "Opens the converter window with the files listed: RealMedia and other media files,\n"
            "converted several at once to MP3 audio or to MP4, DVD, VCD, SVCD or DV video.\n"
            "\n"
            "      --convert  convert the files at once and write the summary here at the end\n"
            "  -h, --help     this text\n"
            "      --version  the version\n"
            "\n"
            "ardentix-convert does the same without a window.\n");
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (AnsweredOnTerminal(argc, argv)) return 0;
    TArdentixApplication app(argc, argv);
    QApplication::setApplicationName("Ardentix");
    QApplication::setOrganizationName("Ardentix");
    QApplication::setWindowIcon(MakeAppIcon());
    QApplication::setStyle("Fusion");
    // The window in the language of the system's locale, where there is a translation.
    const TAppTranslations translations;

    std::string screenshot;
    bool convert = false;
    std::vector<std::string> files;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--screenshot" && i + 1 < args.size()) screenshot = args[++i].toStdString();
        else if (args[i] == "--convert") convert = true;
        else files.push_back(args[i].toStdString());
    }

    TCommandLineDialogs dialogs;
    const auto shutdown = MakeSystemShutdown();
    TForm1 form(dialogs, *shutdown, SystemAppPaths());
    app.Form = &form;
    bool created = false;
    try {
        created = form.FormCreate();
    } catch (const std::exception& e) {
        form.ApplicationException(e);
    }
    if (!created) return 1;
    CloseOnTerminateSignal(form);
    form.show();
    // The window, and the preview windows showing over it with what lies between them.
    auto save = [&] {
        QRect area = form.frameGeometry();
        bool previews = false;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || w->objectName() != TPreviewer::kObjectName) continue;
            area |= w->frameGeometry();
            previews = true;
        }
        const QPixmap shot =
            previews ? form.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()) : form.grab();
        shot.save(QString::fromStdString(screenshot), "PNG");
    };
    QTimer watch;
    bool started = false;
    QTimer::singleShot(0, &form, [&] {
        dialogs.ToTerminal = convert;
        form.AddFiles(files);
        // Watches the batch: started once the files are read (what cannot be
        // read is told with the addition), the picture a quarter of the way,
        // the summary at the end.
        QObject::connect(&watch, &QTimer::timeout, &form, [&] {
            if (!started) {
                if (form.ReadingFiles()) return;
                started = true;
                dialogs.ToTerminal = false;
                if (convert) form.BtnStartClick();
            }
            if (!convert) {
                watch.stop();
                if (!screenshot.empty()) QTimer::singleShot(200, &form, save);
                return;
            }
            if (!screenshot.empty() && (form.BatchProgress().Percent() >= 25 || !form.RunGoing())) {
                save();
                screenshot.clear();
            }
            if (form.RunGoing()) return;
            watch.stop();
            std::printf("%s", form.SummaryText().c_str());
            std::fflush(stdout);
        });
        watch.start(50);
    });
    return app.exec();
}
