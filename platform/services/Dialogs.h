#pragma once
// The modal dialogs the program asks the platform for: the message box, the input
// box and the save dialog. The program always goes through dialogs(); tests may put a
// scripted answerer in its place through setDialogs(), the one seam for dialog answers.

#include <QString>
#include <optional>

class QPrinter;
class QWidget;

namespace platform {

// Message box styles and answers, with the values a scripting caller passes.
enum MsgBoxStyle : int { vbOKOnly = 0, vbYesNo = 4, vbExclamation = 48 };
enum MsgBoxResult : int { vbOK = 1, vbYes = 6, vbNo = 7 };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // text keeps its carriage returns and line feeds; title is never empty here.
    virtual int messageBox(const QString &text, int style, const QString &title) = 0;
    // std::nullopt when the user cancelled; an empty string when OK was pressed on nothing.
    virtual std::optional<QString> inputBox(const QString &prompt, const QString &title) = 0;
    // The chosen file name, or an empty string when cancelled. filter is in the
    // "Description (*.ext)|*.ext|" form of the common dialog.
    virtual QString saveFileName(const QString &title, const QString &filter) = 0;
    // The system print dialog on printer; false when cancelled. The real dialog unless a
    // test answers it.
    virtual bool choosePrinter(QPrinter &printer);
};

// The real Qt dialogs, parented to the active window.
class QtDialogs : public Dialogs {
public:
    int messageBox(const QString &text, int style, const QString &title) override;
    std::optional<QString> inputBox(const QString &prompt, const QString &title) override;
    QString saveFileName(const QString &title, const QString &filter) override;

    // How a message text with carriage returns is shown: every break becomes a line break.
    static QString displayText(const QString &text);
    // "Excel Files (*.xls)|*.xls|" becomes the Qt filter "Excel Files (*.xls)".
    static QString qtFilter(const QString &filter);
};

Dialogs &dialogs();
// nullptr puts the real dialogs back.
void setDialogs(Dialogs *d);

// The caption message boxes carry when they name no title of their own.
void setApplicationTitle(const QString &title);
QString applicationTitle();

// A message box the way a scripting caller raises one: an empty title means the
// application title.
int MsgBox(const QString &text, int style = vbOKOnly, const QString &title = {});
std::optional<QString> InputBox(const QString &prompt, const QString &title);

} // namespace platform
