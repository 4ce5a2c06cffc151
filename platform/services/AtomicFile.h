#pragma once
// Replacing a file the user owns so that a failure leaves the old one as it was: the bytes
// go to a new file beside the target (created exclusively, never through a planted link),
// every write is checked, the file is flushed to the disk and its size compared, and only
// then is it renamed over the target and the folder flushed. Qt's own QSaveFile::commit()
// can report success on Debian's Qt 6.4 when the last write found the disk full, so it is
// not relied on here.

#include <QByteArray>
#include <QString>

namespace platform {

// Raises an AutomationError naming the file and the system's reason ("No space left on
// device", "Permission denied", "is a folder"); the target is untouched then and no
// temporary file is left behind.
void writeFileAtomically(const QString &path, const QByteArray &bytes);

} // namespace platform
