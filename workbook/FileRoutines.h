#pragma once
// Small file routines of the generation run and the preview window.

#include <QByteArray>
#include <QString>

namespace workbook {

// True when the file's last-modified time can be read: an existing file or folder.
bool FileExists(const QString &path);

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

} // namespace workbook
