#pragma once
// The uniform error report and the numbered, resuming steps of every guarded
// procedure. A procedure names itself once ("Form1.Form_Load") and runs each of its
// statements through its Guard with the statement's line number; a failing statement
// is reported ("... at line 114") and the procedure goes on with the next one. A
// report identical to one this run has already shown (same step, same description) is
// not shown again, nor, once a failure of the run was reported, one that only follows
// from it (automation::FollowOnError); the procedure goes on just the same.
//
//   Guard g(u"Form1.Form_QueryUnload");
//   for (int i = 0; i <= 14; ++i) {
//       QString text;
//       for (...) g.step(106, [&] { text += item + ';'; });
//       if (g.test(110, [&] { return !text.isEmpty(); })) g.step(112, [&] { text.chop(1); });
//       g.step(114, [&] { SaveSetting(...); });
//   }

#include <QSet>
#include <QString>
#include <functional>

namespace shell {

inline const QString kSupportAddress = QStringLiteral("support@pantrimo.example");
inline const QString kReportTitle = QStringLiteral("Application Error");

// "in Larderly2021/08/31." + procedure + " ": the location text of a guarded procedure.
QString locationText(QStringView procedure);

// description, CR LF, location, "at line ", line, CR CR, the support line.
QString errorReportText(const QString &location, int line, const QString &description);

// Shows the report (OK only, exclamation icon, titled "Application Error") and waits.
void ReportError(const QString &location, int line, const QString &description);

// The program is ending: from now on failures are still counted, but no report is shown.
void endReports();

// Tests can make a chosen step fail: the probe runs before every guarded statement
// and whatever it throws counts as that statement's failure.
using StepProbe = std::function<void(const QString &procedure, int line)>;
void setStepProbe(StepProbe probe);

// Raised to end the program from inside a guarded procedure; guards let it pass.
struct ProgramEnd {
    int exitCode = 0;
};

class Guard {
public:
    explicit Guard(QStringView procedure);
    ~Guard();
    Guard(const Guard &) = delete;
    Guard &operator=(const Guard &) = delete;

    // A plain statement; after a reported failure the procedure goes on.
    void step(int line, const std::function<void()> &statement);
    // The test of a conditional; a test that fails counts as passed.
    bool test(int line, const std::function<bool()> &condition);
    // A statement that yields a value; fallback after a reported failure.
    template <typename T, typename F>
    T value(int line, F &&f, T fallback)
    {
        T result = fallback;
        step(line, [&] { result = f(); });
        return result;
    }
    // The head of a counted loop: after a failure the body is entered once, as
    // resuming goes on with its first statement.
    int loopCount(int line, const std::function<int()> &count);

    const QString &procedure() const { return m_procedure; }
    // Failed statements so far, shown or not.
    int reports() const { return m_reports; }

private:
    bool run(int line, const std::function<void()> &statement);

    QString m_procedure;
    QString m_location;
    int m_reports = 0;
    QSet<QString> m_shown; // a report identical to one already shown in this run is not shown again
};

} // namespace shell
