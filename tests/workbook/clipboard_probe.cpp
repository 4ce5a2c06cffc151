// The clipboard routines of the generation run in a process of their own, for the checks
// under Xvfb where another X client owns the clipboard (clipboard_x11.py).
//   clipboard_probe picture   prints the size of GetClipboardPicture's picture, or "null"
//   clipboard_probe keeper    keeps the clipboard, puts a picture there as the capture does,
//                             prints "captured", waits for a line on stdin, lets the X
//                             server's news arrive, restores, prints "restored", then serves
//                             the clipboard until stdin ends

#include "workbook/Capture.h"

#include <QClipboard>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImage>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {
void waitForEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2)
        return 2;
    if (std::strcmp(argv[1], "picture") == 0) {
        const QImage picture = workbook::GetClipboardPicture(0);
        if (picture.isNull())
            std::puts("null");
        else
            std::printf("%dx%d\n", picture.width(), picture.height());
        return 0;
    }
    if (std::strcmp(argv[1], "keeper") != 0)
        return 2;
    {
        workbook::ClipboardKeeper keeper;
        QImage capture(4, 3, QImage::Format_RGB32);
        capture.fill(Qt::red);
        QGuiApplication::clipboard()->setImage(capture);
        keeper.captureDone();
        std::puts("captured");
        std::fflush(stdout);
        char line[64];
        if (!std::fgets(line, sizeof line, stdin))
            return 1;
        waitForEvents(300);
        keeper.restore();
        std::puts("restored");
        std::fflush(stdout);
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    return app.exec();
}
