#include "app/Termination.h"

#include "app/Form1.h"
#include "preview/Form2.h"
#include "shell/ErrorReport.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace shell {

namespace {
int g_signalPipe[2] = {-1, -1};

void onTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}
} // namespace

void closeOnTermination(Form1 &window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, notifier] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        // The request may come while a report or a question is open, inside a run: nothing
        // more is shown, what is open is closed, and the run goes to its end unseen.
        endReports();
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
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

void ignoreFileSizeLimitSignal() { ::signal(SIGXFSZ, SIG_IGN); }

} // namespace shell
