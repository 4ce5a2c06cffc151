#include "shell/ErrorReport.h"

#include "platform/automation/AutomationError.h"
#include "platform/services/Dialogs.h"

#include <utility>

namespace shell {

namespace {
StepProbe g_probe;
// Guards nest (the capture's inside the run's): one run is all that happens under the
// outermost, and its failures so far decide whether a follow-on failure is news.
int g_guardDepth = 0;
int g_runFailures = 0;
bool g_reportsEnded = false;
} // namespace

void endReports() { g_reportsEnded = true; }

void setStepProbe(StepProbe probe) { g_probe = std::move(probe); }

QString locationText(QStringView procedure)
{
    return QStringLiteral("in Larderly2021/08/31.") + procedure.toString() + QLatin1Char(' ');
}

QString errorReportText(const QString &location, int line, const QString &description)
{
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") + QString::number(line) +
           QStringLiteral("\r\r") + QStringLiteral("Please email screenshot of this message to ") + kSupportAddress;
}

void ReportError(const QString &location, int line, const QString &description)
{
    if (g_reportsEnded)
        return;
    platform::MsgBox(errorReportText(location, line, description), platform::vbExclamation, kReportTitle);
}

Guard::Guard(QStringView procedure) : m_procedure(procedure.toString()), m_location(locationText(procedure))
{
    if (g_guardDepth++ == 0)
        g_runFailures = 0;
}

Guard::~Guard() { --g_guardDepth; }

bool Guard::run(int line, const std::function<void()> &statement)
{
    QString description;
    bool followOn = false;
    try {
        if (g_probe)
            g_probe(m_procedure, line);
        statement();
        return true;
    } catch (const ProgramEnd &) {
        throw;
    } catch (const automation::FollowOnError &e) {
        description = e.description();
        followOn = true;
    } catch (const std::exception &e) {
        description = automation::describe(e);
    } catch (...) {
        description = QStringLiteral("Unexpected failure");
    }
    ++m_reports;
    // The user has been told what went wrong; that the steps after it found nothing to work
    // on is no news to them.
    if (std::exchange(g_runFailures, g_runFailures + 1) > 0 && followOn)
        return false;
    // One failure often makes every later step that depends on it fail the same way (a
    // workbook that never opened, hundreds of cells); the user hears of each failure once.
    const QString report = QString::number(line) + QLatin1Char('\n') + description;
    if (!m_shown.contains(report)) {
        m_shown.insert(report);
        ReportError(m_location, line, description);
    }
    return false;
}

void Guard::step(int line, const std::function<void()> &statement) { run(line, statement); }

bool Guard::test(int line, const std::function<bool()> &condition)
{
    bool result = true;
    run(line, [&] { result = condition(); });
    return result;
}

int Guard::loopCount(int line, const std::function<int()> &count)
{
    int n = 1;
    run(line, [&] { n = count(); });
    return n;
}

} // namespace shell
