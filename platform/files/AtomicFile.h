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
    // The mode of a file that did not exist before; a replaced file keeps its own mode and,
    // where this user may give them, its owner and group.
    mode_t newFileMode = 0600;
    // When false, an existing target is never replaced: the call answers AlreadyThere and
    // writes nothing (renameat2's RENAME_NOREPLACE, so a file that appears meanwhile counts).
    bool replace = true;
    // When the target is a symbolic link, write the file it names (a user's dotfiles may
    // link the settings file elsewhere), but only where the kernel's protected_symlinks rule
    // would follow it: a link another user put in a sticky, world-writable folder (/tmp, a
    // shared drop folder) is refused, not followed. Off for files in folders others can
    // write to: a link in the target's place is then replaced, never followed.
    bool followLink = true;
    // Flush the file and its folder to the disk before answering. Off only for files that
    // live for one run in its private folder (the template, the picture): a power cut ends
    // the run anyway, and flushing a picture of megabytes costs more than the whole run.
    // Every write is checked and the size compared either way.
    bool durable = true;
    // newFileMode is narrowed by the process's umask, as a program that creates a document
    // for the user is expected to do (0666 gives what the user's umask allows).
    bool applyUmask = false;
};

enum class WriteStatus { Written, AlreadyThere, Failed };

struct WriteOutcome {
    WriteStatus status = WriteStatus::Failed;
    // The reason in words, for a message: "No space left on device", "it is a folder".
    QString reason;
    bool written() const { return status == WriteStatus::Written; }
};

WriteOutcome writeFileAtomically(const QString &path, QByteArrayView bytes, const WriteOptions &options = {});

// What a write to path would replace, before anything is written: the overwrite question
// names the real file, and a target that may not be written is refused before any work.
struct TargetCheck {
    // The file that would be written: path with its links resolved as options allow.
    QString file;
    bool exists = false;
    // Why it may not be written ("it is read-only", "it is a device, not a file", a link
    // that is not followed, named with where it points); empty when it may.
    QString refusal;
    bool allowed() const { return refusal.isEmpty(); }
};
TargetCheck checkTarget(const QString &path, const WriteOptions &options = {});

// A file written whole beside its target and not yet in place, for a caller that puts
// several files in place together, or none of them: commit() renames it over its target;
// destroying it uncommitted removes it. writeFileAtomically is prepare, then commit.
class PreparedFile {
public:
    PreparedFile() = default;
    PreparedFile(PreparedFile &&other) noexcept;
    PreparedFile &operator=(PreparedFile &&other) noexcept;
    ~PreparedFile();

    // Failed with the reason, AlreadyThere, or Written once the file waits beside its target.
    const WriteOutcome &outcome() const { return m_outcome; }
    bool ready() const { return m_outcome.written() && !m_temporary.isEmpty(); }
    // The file that commit() replaces (links resolved).
    QString target() const;
    WriteOutcome commit();

private:
    friend PreparedFile prepareFile(const QString &, QByteArrayView, const WriteOptions &);
    void discard();
    WriteOutcome m_outcome;
    QByteArray m_temporary, m_target;
    int m_fd = -1; // open, and locked, until the file is in place or removed
    WriteOptions m_options;
};
PreparedFile prepareFile(const QString &path, QByteArrayView bytes, const WriteOptions &options = {});

// The system's words for an errno value, with the cases a user meets most often said
// plainly.
QString describeError(int error);

// Writes every byte to an open descriptor, retrying after interruptions; false with errno
// set when a write fails or the disk takes fewer bytes than it was given.
bool writeAll(int fd, QByteArrayView bytes);

} // namespace files
