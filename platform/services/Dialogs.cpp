#include "platform/services/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

namespace platform {

namespace {
QtDialogs g_qtDialogs;
Dialogs *g_dialogs = &g_qtDialogs;
QString g_applicationTitle;
} // namespace

Dialogs &dialogs() { return *g_dialogs; }
void setDialogs(Dialogs *d) { g_dialogs = d ? d : &g_qtDialogs; }

void setApplicationTitle(const QString &title) { g_applicationTitle = title; }
QString applicationTitle() { return g_applicationTitle; }

int MsgBox(const QString &text, int style, const QString &title)
{
    return dialogs().messageBox(text, style, title.isEmpty() ? applicationTitle() : title);
}

std::optional<QString> InputBox(const QString &prompt, const QString &title)
{
    return dialogs().inputBox(prompt, title);
}

QString QtDialogs::displayText(const QString &text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

QString QtDialogs::qtFilter(const QString &filter)
{
    // Pairs of description and pattern, each followed by "|"; Qt wants the descriptions,
    // which already name their patterns, one per line.
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList descriptions;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        descriptions << parts[i];
    return descriptions.join(QLatin1String(";;"));
}

bool Dialogs::choosePrinter(QPrinter &printer)
{
    QPrintDialog dlg(&printer, QApplication::activeWindow());
    // One sheet's pages: no selection or current-page choices to offer.
    dlg.setOption(QAbstractPrintDialog::PrintSelection, false);
    dlg.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    return dlg.exec() == QDialog::Accepted;
}

int QtDialogs::messageBox(const QString &text, int style, const QString &title)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(title);
    box.setText(displayText(text));
    box.setTextFormat(Qt::PlainText);
    box.setIcon((style & vbExclamation) == vbExclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    if ((style & 0x7) == vbYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? vbYes : vbNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return vbOK;
}

std::optional<QString> QtDialogs::inputBox(const QString &prompt, const QString &title)
{
    QInputDialog dlg(QApplication::activeWindow());
    dlg.setWindowTitle(title);
    dlg.setLabelText(prompt);
    dlg.setInputMode(QInputDialog::TextInput);
    if (dlg.exec() != QDialog::Accepted)
        return std::nullopt;
    return dlg.textValue();
}

QString QtDialogs::saveFileName(const QString &title, const QString &filter)
{
    QFileDialog dlg(QApplication::activeWindow(), title, QString(), qtFilter(filter));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    // The program asks its own overwrite question.
    dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    // Qt's own dialog, so the program and its tests meet the same widget everywhere.
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return {};
    return dlg.selectedFiles().constFirst();
}

} // namespace platform
