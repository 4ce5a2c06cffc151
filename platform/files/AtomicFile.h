#pragma once
// The one way the program replaces a file the user owns: the settings file, a saved
// workbook, the run's template, picture and workbook, an exported PDF.
//
// The bytes go to a new file beside the target (created exclusively, never through a
// link), every write is checked for a short count, the file is flushed to the disk and
// its size compared with what was meant, and only then is it renamed over the target and
// the folder flushed. A library's "written" is not trusted: on a nearly full disk some
// report success for a final write that never happened, and a rename would then put an
// empty or truncated file in place of a good one. On any failure the temporary file is
// removed and the target is left exactly as it was.

#include <QByteArrayView>
#include <QString>

#include <sys/types.h>

namespace files {

struct WriteOptions {
    // The mode of a file that did not exist before; a replaced file keeps its own mode.
    mode_t newFileMode = 0600;
    // When false, an existing target is never replaced: the call answers AlreadyThere and
    // writes nothing (renameat2's RENAME_NOREPLACE, so a file that appears meanwhile counts).
    bool replace = true;
    // When the target is a symbolic link, write the file it names (a user's dotfiles may
    // link the settings file elsewhere). Off for files in folders others can write to.
    bool followLink = true;
    // Flush the file and its folder to the disk before answering. Off only for files that
    // live for one run in its private folder (the template, the picture): a power cut ends
    // the run anyway, and flushing a picture of megabytes costs more than the whole run.
    // Every write is checked and the size compared either way.
    bool durable = true;
};

enum class WriteStatus { Written, AlreadyThere, Failed };

struct WriteOutcome {
    WriteStatus status = WriteStatus::Failed;
    // The reason in words, for a message: "No space left on device", "it is a folder".
    QString reason;
    bool written() const { return status == WriteStatus::Written; }
};

WriteOutcome writeFileAtomically(const QString &path, QByteArrayView bytes, const WriteOptions &options = {});

// The system's words for an errno value, with the cases a user meets most often said
// plainly.
QString describeError(int error);

// Writes every byte to an open descriptor, retrying after interruptions; false with errno
// set when a write fails or the disk takes fewer bytes than it was given.
bool writeAll(int fd, QByteArrayView bytes);

} // namespace files
