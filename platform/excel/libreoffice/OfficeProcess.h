#pragma once
// One office process that this program started, and the watchdog that ends it when it stops
// answering. Nothing here knows UNO: the bridge on top only needs to know whether the process
// still runs and to be able to end it.
//
// The process runs in its own process group, so ending it also ends anything it started and
// nothing else; it is killed when the thread that started it ends (the parent-death signal),
// so no office outlives the program even when the program itself is killed.

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <sys/types.h>
#include <thread>

namespace lo {

class OfficeProcess {
public:
    // Starts program with args, stdin/stdout/stderr on /dev/null and, when inheritFd is not
    // -1, that descriptor as its descriptor 3 (a lock the process is to hold as long as it
    // lives); it inherits nothing else. environment holds "NAME=value" entries that replace or
    // add to this process's. It runs with umask 077. Throws std::runtime_error when the
    // program cannot be started at all.
    OfficeProcess(const QString &program, const QStringList &args, int inheritFd = -1, const QStringList &environment = {});
    // Ends the process if it still runs and collects it.
    ~OfficeProcess();

    OfficeProcess(const OfficeProcess &) = delete;
    OfficeProcess &operator=(const OfficeProcess &) = delete;

    pid_t pid() const { return m_pid; }
    // Collects the process without blocking; true once it has ended.
    bool hasEnded();
    // How it ended, for error descriptions: "exit code 81", "signal 9".
    QString howItEnded() const;
    int exitCode() const { return m_exitCode; }
    // Waits up to timeout for the process to end by itself.
    bool waitForEnd(std::chrono::milliseconds timeout);
    // Kills the process group and collects the process. Safe from any thread.
    void kill();

private:
    void collect(int status);

    pid_t m_pid = -1;
    std::mutex m_mutex; // guards the transition to ended against a kill from the watchdog
    bool m_ended = false;
    int m_exitCode = -1;
    int m_signal = 0;
};

// Runs onExpiry (on its own thread) when a call armed with a deadline has not come back in
// time. Arming nests: only the outermost call's deadline counts.
class Watchdog {
public:
    explicit Watchdog(std::function<void()> onExpiry);
    ~Watchdog();

    void arm(std::chrono::milliseconds timeout);
    void disarm();
    bool fired() const { return m_fired; }

private:
    void run();

    std::function<void()> m_onExpiry;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_depth = 0;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_stop = false;
    std::atomic<bool> m_fired{false};
    std::thread m_thread;
};

} // namespace lo
