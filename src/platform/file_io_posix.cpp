// The POSIX side of whole-file reads and crash-safe writes: open, read,
// mkstemp, rename and flock, with errno kept for the messages.
#include "platform/file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace tarlo {

namespace {

[[noreturn]] void throwFileError(const QString& path, int code) {
    const QString reason = systemErrorText(code);
    throw FileError(path, code, reason);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int close() {
        int rc = 0;
        if (fd_ >= 0) rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

FileKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) return FileKind::Regular;
    if (S_ISDIR(mode)) return FileKind::Folder;
    if (S_ISFIFO(mode)) return FileKind::Pipe;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::Device;
    return FileKind::Other;
}

// Only a regular file is read: a FIFO named like a table would block the
// open and every read, a device such as /dev/zero never ends. The open
// itself must not wait for a FIFO's writer, so it does not block.
int openForReading(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throwFileError(path, errno);
    struct stat st {};
    if (const bool statted = ::fstat(fd, &st) == 0; !statted || !S_ISREG(st.st_mode)) {
        const int code = statted ? EINVAL : errno;
        ::close(fd);
        if (!statted) throwFileError(path, code);
        if (S_ISDIR(st.st_mode)) throwFileError(path, EISDIR);
        throw FileError(path, code, QStringLiteral("%1で、通常のファイルではありません (パイプや装置は読めません)")
                                        .arg(fileKindText(kindOf(st.st_mode))));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

mode_t currentUmask() {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

}  // namespace

QString systemErrorText(int code) {
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

QByteArray readFilePrefix(const QString& path, qint64 maxBytes) {
    FileDescriptor fd(openForReading(path));
    QByteArray bytes;
    char chunk[65536];
    while (bytes.size() < maxBytes) {
        const qint64 want = std::min<qint64>(sizeof chunk, maxBytes - bytes.size());
        const ssize_t got = ::read(fd.get(), chunk, static_cast<size_t>(want));
        if (got < 0) {
            if (errno == EINTR) continue;
            throwFileError(path, errno);
        }
        if (got == 0) break;
        bytes.append(chunk, got);
    }
    return bytes;
}

namespace {

SaveFaults saveFaults;

// 0 once every byte is written, else the error number.
int writeAll(int fd, const QByteArray& bytes) {
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno != EINTR) return errno;
        if (n > 0) written += n;
    }
    return 0;
}

// Makes the disk hold blocks for length bytes of the file before any is
// overwritten, so a full disk fails the save before it starts instead of
// halfway through the file. 0 when it does, else the error number; the
// file's text and length are as they were either way.
int reserveRoom(int fd, off_t oldLength, off_t length) {
    if (saveFaults.reserve) return saveFaults.reserve;
    if (length == 0) return 0;
    int rc;
#ifdef __linux__
    // Blocks past the end without moving it: a kill now leaves the old text.
    do rc = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, length) == 0 ? 0 : errno;
    while (rc == EINTR);
    if (rc != EOPNOTSUPP && rc != ENOSYS) return rc;
#endif
    // Without that call: the blocks the old text has, and new ones past its
    // end (the library writes them out where the system cannot reserve them).
    if (length <= oldLength) return 0;
    do rc = ::posix_fallocate(fd, oldLength, length - oldLength);
    while (rc == EINTR);
    if (rc != 0 && ::ftruncate(fd, oldLength) != 0) return errno;
    return rc;
}

// The file itself rewritten: the only way to keep a hard link, an owner we
// cannot give a new file, or a file in a folder that takes no new ones.
void rewriteInPlace(const QString& path, const QByteArray& target, const QByteArray& bytes) {
    const int raw = ::open(target.constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (raw < 0) throwFileError(path, errno);
    FileDescriptor fd(raw);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throwFileError(path, errno);
    if (!S_ISREG(st.st_mode)) throwFileError(path, EINVAL);
    if (const int code = reserveRoom(fd.get(), st.st_size, off_t(bytes.size()))) throwFileError(path, code);
    if (const int code = writeAll(fd.get(), bytes)) throwFileError(path, code);
    if (::ftruncate(fd.get(), off_t(bytes.size())) != 0) throwFileError(path, errno);
    if (::fsync(fd.get()) != 0) throwFileError(path, errno);
    if (fd.close() != 0) throwFileError(path, errno);
}

// Whether a failed mkstemp says the folder takes no new file from us, the
// one case where a rewrite in place is worth its risk. A full disk, a quota
// or no free inode is not: the rewrite would meet the same want of room.
bool takesNoNewFile(int code) {
    return code == EACCES || code == EPERM || code == EROFS;
}

// The folder part of a native path, "." for a bare name.
QByteArray folderOf(const QByteArray& target) {
    const qsizetype slash = target.lastIndexOf('/');
    if (slash < 0) return ".";
    return slash == 0 ? QByteArray("/") : target.left(slash);
}

}  // namespace

void setSaveFaultsForTesting(const SaveFaults& faults) {
    saveFaults = faults;
}

void writeFileAtomically(const QString& path, const QByteArray& bytes) {
    QByteArray target = QFile::encodeName(path);
    struct stat existing {};
    const bool exists = ::stat(target.constData(), &existing) == 0;
    if (!exists) {
        const int code = errno;
        struct stat link {};
        // A new file in place of a link to nothing would end the link: the
        // user meant the file it names, which is gone.
        if (::lstat(target.constData(), &link) == 0 && S_ISLNK(link.st_mode)) {
            if (code != ENOENT) throwFileError(path, code);
            throw FileError(path, code,
                            QStringLiteral("シンボリックリンクの指すファイル \"%1\" がありません")
                                .arg(QFileInfo(path).symLinkTarget()));
        }
        if (code != ENOENT) throwFileError(path, code);
    }
    if (exists) {
        if (S_ISDIR(existing.st_mode)) throwFileError(path, EISDIR);
        if (!S_ISREG(existing.st_mode))
            throw FileError(path, EINVAL, QStringLiteral("%1で、通常のファイルではありません (パイプや装置には書けません)")
                                              .arg(fileKindText(kindOf(existing.st_mode))));
        if (::access(target.constData(), W_OK) != 0) throwFileError(path, errno);
        // A file nobody may write is read-only for root too, as it is on Windows.
        if ((existing.st_mode & 0222) == 0) throwFileError(path, EACCES);
        // A link's target is what the user edits: the link stays a link.
        if (char* real = ::realpath(target.constData(), nullptr)) {
            target = real;
            ::free(real);
        }
        // A second name would keep the old text if a new file took this one's place.
        if (existing.st_nlink > 1) return rewriteInPlace(path, target, bytes);
    }

    QByteArray temp = target + kSaveMark + "XXXXXX";
    const int raw = saveFaults.tempFile ? (errno = saveFaults.tempFile, -1) : ::mkstemp(temp.data());
    if (raw < 0) {
        const int code = errno;
        if (exists && takesNoNewFile(code)) return rewriteInPlace(path, target, bytes);
        throwFileError(path, code);
    }
    FileDescriptor fd(raw);
    // Held until the rename, so a start that clears unfinished saves leaves this one alone.
    ::flock(fd.get(), LOCK_EX | LOCK_NB);
    auto discard = [&] {
        fd.close();
        ::unlink(temp.constData());
    };
    auto fail = [&](int code) {
        discard();
        throwFileError(path, code);
    };
    const mode_t mode = exists ? (existing.st_mode & 07777) : (0666 & ~currentUmask());
    if (exists) {
        struct stat made {};
        const bool sameOwner = ::fstat(fd.get(), &made) == 0 && made.st_uid == existing.st_uid &&
                               made.st_gid == existing.st_gid;
        if (!sameOwner && ::fchown(fd.get(), existing.st_uid, existing.st_gid) != 0) {
            // Only the file itself keeps an owner or group we may not give.
            discard();
            return rewriteInPlace(path, target, bytes);
        }
    }
    if (::fchmod(fd.get(), mode) != 0) fail(errno);
    if (const int code = writeAll(fd.get(), bytes)) fail(code);
    if (::fsync(fd.get()) != 0) fail(errno);
    if (::rename(temp.constData(), target.constData()) != 0) fail(errno);
    fd.close();
    // The rename itself reaches the disk with the folder.
    if (const int dir = ::open(folderOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

bool removeUnfinishedSave(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    // A save under way holds its lock; a killed one's lock went with its process.
    const bool removed = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                         ::unlink(native.constData()) == 0;
    ::close(fd);
    return removed;
}

FileKind fileKind(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return FileKind::Missing;
    return kindOf(st.st_mode);
}

FileReader::FileReader(const QString& path) : path_(path), fd_(openForReading(path)) {}

FileReader::~FileReader() {
    ::close(fd_);
}

QByteArray FileReader::read(qint64 maxBytes) {
    QByteArray bytes(static_cast<qsizetype>(maxBytes), Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(fd_, bytes.data(), static_cast<size_t>(maxBytes));
        if (got >= 0) {
            bytes.truncate(got);
            return bytes;
        }
        if (errno != EINTR) throwFileError(path_, errno);
    }
}

size_t FileReader::readInto(char* out, size_t n) {
    for (;;) {
        const ssize_t got = ::read(fd_, out, n);
        if (got >= 0) return size_t(got);
        if (errno != EINTR) throwFileError(path_, errno);
    }
}

size_t FileReader::readAt(qint64 offset, char* out, size_t n) {
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd_, out + done, n - done, off_t(offset) + off_t(done));
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            throwFileError(path_, errno);
        }
        done += size_t(got);
    }
    return done;
}

qint64 FileReader::size() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return qint64(info.st_size);
}

FileIdentity fileIdentity(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    return {quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
            qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

qint64 fileClockNs() {
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace tarlo
