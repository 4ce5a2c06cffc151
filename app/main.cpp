// Pantrimo: turns a grocery list kept in fifteen categories into a printable workbook.

#include "app/CommandLine.h"
#include "app/Form1.h"
#include "app/SessionEnd.h"
#include "preview/Form2.h"
#include "platform/excel/ExcelServer.h"
#include "platform/services/FileSystem.h"
#include "platform/services/Paths.h"
#include "platform/skin/SkinFramework.h"

#include <QApplication>
#include <QScreen>

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
    shell::closeOnTermination(window);
    // Centred on the screen, as the window was designed to open.
    if (const QScreen *screen = window.screen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    return app.exec();
}
