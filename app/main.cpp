// Pantrimo: turns a grocery list kept in fifteen categories into a printable workbook.

#include "app/CommandLine.h"
#include "app/Form1.h"
#include "preview/Form2.h"
#include "platform/excel/ExcelServer.h"
#include "platform/services/FileSystem.h"
#include "platform/services/Paths.h"
#include "platform/skin/SkinFramework.h"

#include <QApplication>
#include <QScreen>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_signalPipe[2] = {-1, -1};

void onTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// A polite termination request (a logout, a service manager) closes the main window
// the usual way, so the lists are stored as with any other close.
void closeOnTermination(shell::Form1 &window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, notifier] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        // The window the user sees closes, as if its close box was pressed: the preview
        // removes its temporary workbook, and either way the lists are stored.
        if (window.form2Loaded() && window.form2().isVisible())
            window.form2().close();
        else
            window.close();
    });
    struct sigaction sa {};
    sa.sa_handler = onTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
}
} // namespace

int main(int argc, char *argv[])
{
    // Scripts call the command line where there may be no display at all, or one the
    // session's platform setting does not reach: it needs none. (Windows always has its
    // desktop; there Qt's offscreen platform would draw without the system's fonts, a PDF
    // without its text.)
    const bool windowless = shell::runsWithoutWindows(argc, argv);
#ifndef Q_OS_WIN
    if (windowless)
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pantrimo"));
    QApplication::setApplicationVersion(QStringLiteral(PANTRIMO_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);
    platform::registerFileSystemObject();
    platform::registerExcelApplication();
    platform::registerSkinFramework();
    // Options are checked with a window too: a mistyped one is said, not ignored.
    const shell::CommandLineRequest request = shell::parseCommandLine(QApplication::arguments());
    // A program that was killed mid-run could not remove its run's files.
    platform::sweepAbandonedRunFolders();
    if (windowless)
        return shell::runCommandLine(request);

    shell::Form1 window;
    if (!window.Form_Load())
        return 0;
    QObject::connect(&window, &shell::Form1::programEnding, &app, &QApplication::quit, Qt::QueuedConnection);
    window.storeListsWhenTheSessionEnds(app);
    closeOnTermination(window);
    // Centred on the screen, as the window was designed to open.
    if (const QScreen *screen = window.screen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    return app.exec();
}
