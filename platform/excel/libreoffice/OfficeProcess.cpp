#include "platform/excel/libreoffice/OfficeProcess.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace lo {

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(20);

// Only async-signal-safe calls between fork and exec: the parent may have other threads.
[[noreturn]] void execChild(const char *program, char *const argv[], char *const envp[], pid_t parent, int devNull, int inheritFd)
{
    // Ends the office with the thread that started it, even when that thread dies abruptly.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127);
    ::setpgid(0, 0);
    // Its pipes and files are for this user only, whatever umask the program was started with.
    ::umask(077);
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(devNull, STDOUT_FILENO);
    ::dup2(devNull, STDERR_FILENO);
    unsigned firstToClose = 3;
    if (inheritFd >= 0) {
        // dup2 onto itself would keep close-on-exec set.
        if (inheritFd == 3 ? ::fcntl(3, F_SETFD, 0) != 0 : ::dup2(inheritFd, 3) != 3)
            ::_exit(127);
        firstToClose = 4;
    }
    // The office must not hold the caller's pipes, sockets and files open (a test runner
    // waits for its output pipe to close).
    if (::syscall(SYS_close_range, firstToClose, ~0U, 0U) != 0) {
        for (int fd = int(firstToClose); fd < 4096; ++fd)
            ::close(fd);
    }
    ::execve(program, argv, envp);
    ::_exit(127);
}
} // namespace

OfficeProcess::OfficeProcess(const QString &program, const QStringList &args, int inheritFd, const QStringList &environment)
{
    const QByteArray programBytes = QFile::encodeName(program);
    std::vector<QByteArray> argBytes;
    argBytes.push_back(programBytes);
    for (const QString &a : args)
        argBytes.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // This process's environment with the given names replaced, made before the fork.
    std::vector<QByteArray> envBytes;
    for (const QString &entry : environment)
        envBytes.push_back(entry.toLocal8Bit());
    for (char **e = environ; *e; ++e) {
        const QByteArray entry(*e);
        const QByteArray name = entry.left(entry.indexOf('=') + 1);
        if (std::none_of(envBytes.begin(), envBytes.begin() + environment.size(), [&](const QByteArray &given) { return given.startsWith(name); }))
            envBytes.push_back(entry);
    }
    std::vector<char *> envp;
    for (QByteArray &e : envBytes)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0)
        throw std::runtime_error(std::string("cannot open /dev/null: ") + std::strerror(errno));
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0)
        execChild(programBytes.constData(), argv.data(), envp.data(), parent, devNull, inheritFd);
    const int forkErrno = errno;
    ::close(devNull);
    if (m_pid < 0)
        throw std::runtime_error(std::string("cannot start a process: ") + std::strerror(forkErrno));
}

OfficeProcess::~OfficeProcess()
{
    if (!hasEnded())
        kill();
}

void OfficeProcess::collect(int status)
{
    m_ended = true;
    if (WIFEXITED(status))
        m_exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        m_signal = WTERMSIG(status);
}

bool OfficeProcess::hasEnded()
{
    std::lock_guard lock(m_mutex);
    if (m_ended)
        return true;
    siginfo_t info{};
    // Look without collecting first: while the ended leader is not collected its group id
    // cannot be reused, so whatever it left behind in its group can be ended safely.
    if (::waitid(P_PID, id_t(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != m_pid)
        return false;
    ::kill(-m_pid, SIGKILL);
    int status = 0;
    if (::waitpid(m_pid, &status, 0) == m_pid)
        collect(status);
    else
        m_ended = true;
    return true;
}

QString OfficeProcess::howItEnded() const
{
    if (m_signal != 0)
        return QStringLiteral("signal %1").arg(m_signal);
    return QStringLiteral("exit code %1").arg(m_exitCode);
}

bool OfficeProcess::waitForEnd(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!hasEnded()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

void OfficeProcess::kill()
{
    std::lock_guard lock(m_mutex);
    if (m_ended)
        return;
    ::kill(-m_pid, SIGKILL);
    ::kill(m_pid, SIGKILL); // in case it died before it could make its own group
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(m_pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r == m_pid)
        collect(status);
    else
        m_ended = true;
}

Watchdog::Watchdog(std::function<void()> onExpiry) : m_onExpiry(std::move(onExpiry)), m_thread([this] { run(); }) {}

Watchdog::~Watchdog()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void Watchdog::arm(std::chrono::milliseconds timeout)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_depth++ > 0)
            return;
        m_deadline = std::chrono::steady_clock::now() + timeout;
    }
    m_wake.notify_all();
}

void Watchdog::disarm()
{
    std::lock_guard lock(m_mutex);
    if (m_depth > 0)
        --m_depth;
}

void Watchdog::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (m_depth == 0) {
            m_wake.wait(lock);
            continue;
        }
        if (m_wake.wait_until(lock, m_deadline) == std::cv_status::timeout && m_depth > 0 && !m_stop &&
            std::chrono::steady_clock::now() >= m_deadline) {
            m_fired = true;
            m_depth = 0;
            lock.unlock();
            m_onExpiry();
            lock.lock();
        }
    }
}

} // namespace lo
