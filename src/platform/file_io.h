// Whole-file reads and crash-safe whole-file writes, with the system's error
// number and text kept, because the user-facing messages quote them.
#pragma once

#include "platform/error.h"

#include <QByteArray>
#include <QString>

namespace tarlo {

// The system's text for an error number, in the user's language where the
// system has it.
QString systemErrorText(int code);

// Reads the whole file; throws FileError (code = errno) when it cannot.
QByteArray readFileBytes(const QString& path);

// Reads at most maxBytes from the start of the file.
QByteArray readFilePrefix(const QString& path, qint64 maxBytes);

// Reads the whole of a file that is at most maxBytes long; a longer one is
// refused with FileError (EFBIG) before it fills memory. For the files the
// window reads on its own thread: query files, schema.ini, the shortcut.
QByteArray readSmallFile(const QString& path, qint64 maxBytes);
constexpr qint64 kMaxSmallFileBytes = qint64(16) << 20;

// Replaces the file's content with bytes and keeps the file what it was: a
// symbolic link's target gets the text, a hard-linked file stays one file,
// owner, group and mode stay. Where it can, the bytes go to a temporary file
// beside the target that is renamed over it, so a kill at any moment leaves
// the old or the new content; where a rename would split a hard link, change
// the owner, or the folder cannot take a new file, the file is rewritten in
// place, and only once room for the whole text is reserved; a folder that
// is merely full fails the save and keeps the old text. A target the user
// may not write (a read-only file) is refused, as is one that is not a
// regular file and a symbolic link that points at nothing. Throws FileError.
void writeFileAtomically(const QString& path, const QByteArray& bytes);

// Errors a save meets as if the system had given them, so tests can reach
// the failures of a full disk: tempFile for the making of the temporary
// file, reserve for the reservation before a rewrite in place; 0 leaves the
// call to the system.
struct SaveFaults {
    int tempFile = 0;
    int reserve = 0;
};
void setSaveFaultsForTesting(const SaveFaults& faults);

// Removes the temporary files of saves that never finished (the saving
// process was killed) from folder, and from beside the files its symbolic
// links point at, where a save through a link writes them; a save still
// under way keeps its own. Returns how many were removed.
int removeUnfinishedSaves(const QString& folder);
// Removes one such temporary file unless a save still holds it.
bool removeUnfinishedSave(const QString& path);

// What marks a save's temporary file: the target's name, this, and six
// more characters. No user's own file carries it ("report.tarlo-backup").
inline constexpr char kSaveMark[] = ".tarlo-save-";

// A file open for reading in pieces, for reads that stop early (a header).
class FileReader {
public:
    explicit FileReader(const QString& path);  // throws FileError
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    // Up to maxBytes; an empty result at the end of the file. Throws FileError.
    QByteArray read(qint64 maxBytes);
    // Up to n bytes into out; 0 at the end of the file. Throws FileError.
    size_t readInto(char* out, size_t n);
    // Up to n bytes from offset into out, fewer only at the end of the file.
    // Threads may read apart at once; readInto's place after it is unsaid.
    // Throws FileError.
    size_t readAt(qint64 offset, char* out, size_t n);
    qint64 size() const;  // the file's length now, -1 when it has none

private:
    QString path_;
#ifdef Q_OS_WIN
    void* handle_;
#else
    int fd_;
#endif
};

// What tells one version of a file from another: the same device, inode,
// size, modification and change times. A file replaced by another of the
// same size and modification time (cp -p, mv) differs in inode or change time.
struct FileIdentity {
    quint64 device = 0, inode = 0;
    qint64 size = -1, modifiedNs = 0, changedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};
// Nothing known (size -1) when the file cannot be looked at.
FileIdentity fileIdentity(const QString& path);
// The time now, in the nanoseconds and from the start fileIdentity's times use.
qint64 fileClockNs();

bool isExistingFile(const QString& path);   // a file, not a folder
bool isExistingFolder(const QString& path);

// What a path names, following links, so a refusal can say what it found.
enum class FileKind { Missing, Regular, Folder, Pipe, Device, Other };
FileKind fileKind(const QString& path);
// "フォルダー", "パイプ", "装置のファイル" ...: the kind as a message names it.
QString fileKindText(FileKind kind);

}  // namespace tarlo
