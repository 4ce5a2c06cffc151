#pragma once
// Small file routines of the generation run and the preview window, and the locale
// helpers that read a version text under any decimal separator.

#include <QByteArray>
#include <QImage>
#include <QString>

namespace workbook {

// Lets pending window messages run, then writes the bytes to a new file at path. An
// existing file is never overwritten (the call returns without writing), a link is never
// followed. A failed write leaves nothing behind and raises an AutomationError with the
// reason.
void WriteBytesToFile(const QByteArray &bytes, const QString &path);

// Lets pending window messages run, then deletes the file; a refused deletion is
// retried by force. Never reports anything.
void RemoveFile(const QString &path);

// Deletes the temporary workbook a run handed to the preview, and the run's folder with it.
void RemoveRunWorkbook(const QString &path);

// Deletes through the scripting file-system object, read-only files included.
void ForceDeleteFile(const QString &path);

// The picture on the system clipboard, asked for up to 1000 times without a pause;
// a null image when every attempt failed. Format 0 lets the reader choose.
QImage GetClipboardPicture(int format);

// The decimal separator of the user's regional settings ("." or "," or other).
QString GetDecimalSeparator();

// Every "." and then every "," replaced by that separator.
QString NormalizeDecimalText(const QString &text);

} // namespace workbook
