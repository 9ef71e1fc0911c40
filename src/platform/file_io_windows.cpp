// The Windows side of whole-file reads and safe writes, on the Win32 file
// calls: the same contracts as on POSIX, with the system's error numbers
// turned into errno values so callers test one set of codes.
#include "platform/file_io.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <limits>

#include <windows.h>

namespace tarlo {

namespace {

std::wstring nativePath(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

int errnoOf(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DIRECTORY: return EISDIR;
    default: return EIO;
    }
}

QString windowsErrorText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString out = n ? QString::fromWCharArray(text, int(n)).trimmed() : QStringLiteral("エラー %1").arg(code);
    if (text) ::LocalFree(text);
    return out;
}

[[noreturn]] void throwLastError(const QString& path, DWORD code = ::GetLastError()) {
    throw FileError(path, errnoOf(code), windowsErrorText(code));
}

[[noreturn]] void throwErrno(const QString& path, int code) {
    throw FileError(path, code, systemErrorText(code));
}

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    bool close() {
        const bool ok = !valid() || ::CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE h_;
};

FileKind kindOf(DWORD fileType) {
    switch (fileType) {
    case FILE_TYPE_DISK: return FileKind::Regular;
    case FILE_TYPE_PIPE: return FileKind::Pipe;
    case FILE_TYPE_CHAR: return FileKind::Device;
    default: return FileKind::Other;
    }
}

// Only a disk file is read: a pipe or a device named like a table would
// block or never end.
HANDLE openForReading(const QString& path) {
    const HANDLE h = ::CreateFileW(nativePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_ACCESS_DENIED && QFileInfo(path).isDir()) throwErrno(path, EISDIR);
        throwLastError(path, code);
    }
    if (const DWORD type = ::GetFileType(h); type != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        throw FileError(path, EINVAL, QStringLiteral("%1で、通常のファイルではありません (パイプや装置は読めません)")
                                          .arg(fileKindText(kindOf(type))));
    }
    return h;
}

size_t readSome(HANDLE h, const QString& path, char* out, size_t n) {
    DWORD got = 0;
    const DWORD want = DWORD(std::min<size_t>(n, 1u << 30));
    if (!::ReadFile(h, out, want, &got, nullptr)) throwLastError(path);
    return got;
}

bool writeAll(HANDLE h, const QByteArray& bytes) {
    qsizetype written = 0;
    while (written < bytes.size()) {
        DWORD n = 0;
        const DWORD want = DWORD(std::min<qsizetype>(bytes.size() - written, 1 << 30));
        if (!::WriteFile(h, bytes.constData() + written, want, &n, nullptr)) return false;
        written += n;
    }
    return true;
}

SaveFaults saveFaults;

// The Windows code for an error a test gives as an errno value.
DWORD windowsCodeOf(int code) {
    switch (code) {
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOSPC: return ERROR_DISK_FULL;
    default: return ERROR_GEN_FAILURE;
    }
}

// Makes the disk hold room for length bytes before any of the file is
// overwritten, so a full disk fails the save before it starts; the end of
// the file stays where it is.
bool reserveRoom(HANDLE h, qint64 length) {
    if (saveFaults.reserve) {
        ::SetLastError(windowsCodeOf(saveFaults.reserve));
        return false;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(h, &size)) return false;
    // A smaller allocation than the file's length would cut the file.
    if (length <= size.QuadPart) return true;
    FILE_ALLOCATION_INFO room{};
    room.AllocationSize.QuadPart = length;
    return ::SetFileInformationByHandle(h, FileAllocationInfo, &room, sizeof room);
}

void rewriteInPlace(const QString& path, const std::wstring& target, const QByteArray& bytes) {
    Handle h(::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid()) throwLastError(path);
    if (!reserveRoom(h.get(), bytes.size())) throwLastError(path);
    if (!writeAll(h.get(), bytes) || !::SetEndOfFile(h.get()) || !::FlushFileBuffers(h.get())) throwLastError(path);
    if (!h.close()) throwLastError(path);
}

}  // namespace

QString systemErrorText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

QByteArray readFilePrefix(const QString& path, qint64 maxBytes) {
    Handle h(openForReading(path));
    QByteArray bytes;
    char chunk[65536];
    while (bytes.size() < maxBytes) {
        const size_t want = size_t(std::min<qint64>(sizeof chunk, maxBytes - bytes.size()));
        const size_t got = readSome(h.get(), path, chunk, want);
        if (got == 0) break;
        bytes.append(chunk, qsizetype(got));
    }
    return bytes;
}

void writeFileAtomically(const QString& path, const QByteArray& bytes) {
    std::wstring target = nativePath(path);
    WIN32_FILE_ATTRIBUTE_DATA existing{};
    const bool exists = ::GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &existing);
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if (exists) {
        if (existing.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) throwErrno(path, EISDIR);
        if (existing.dwFileAttributes & FILE_ATTRIBUTE_READONLY) throwLastError(path, ERROR_ACCESS_DENIED);
        Handle probe(::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
        if (!probe.valid()) throwLastError(path);
        if (const DWORD type = ::GetFileType(probe.get()); type != FILE_TYPE_DISK)
            throw FileError(path, EINVAL, QStringLiteral("%1で、通常のファイルではありません (パイプや装置には書けません)")
                                              .arg(fileKindText(kindOf(type))));
        BY_HANDLE_FILE_INFORMATION info{};
        // A link's target is what the user edits; a second name keeps one file.
        wchar_t real[32768];
        const DWORD n = ::GetFinalPathNameByHandleW(probe.get(), real, DWORD(std::size(real)), FILE_NAME_NORMALIZED);
        if (n > 0 && n < std::size(real)) target.assign(real, n);
        const bool linked = ::GetFileInformationByHandle(probe.get(), &info) && info.nNumberOfLinks > 1;
        probe.close();
        if (linked) return rewriteInPlace(path, target, bytes);
        attributes = existing.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
        if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    }

    // Held open without delete sharing until the rename, so a start that
    // clears unfinished saves leaves this one alone.
    std::wstring temp;
    HANDLE made = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 100 && made == INVALID_HANDLE_VALUE; ++attempt) {
        wchar_t suffix[8];
        const unsigned pick = (::GetTickCount() * 7919u + ::GetCurrentProcessId() + attempt * 104729u) % 1000000u;
        swprintf(suffix, std::size(suffix), L"%06u", pick);
        temp = target + QString::fromLatin1(kSaveMark).toStdWString() + suffix;
        if (saveFaults.tempFile) ::SetLastError(windowsCodeOf(saveFaults.tempFile));
        else made = ::CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, attributes,
                                  nullptr);
        if (const DWORD code = ::GetLastError(); made == INVALID_HANDLE_VALUE && code != ERROR_FILE_EXISTS) {
            // Only a folder that takes no new file is worth a rewrite in
            // place; a full disk would fail that rewrite too.
            if (exists && code == ERROR_ACCESS_DENIED) return rewriteInPlace(path, target, bytes);
            throwLastError(path, code);
        }
    }
    Handle h(made);
    if (!h.valid()) throwLastError(path);
    auto fail = [&](DWORD code) {
        h.close();
        ::DeleteFileW(temp.c_str());
        throwLastError(path, code);
    };
    if (!writeAll(h.get(), bytes) || !::FlushFileBuffers(h.get())) fail(::GetLastError());
    h.close();
    if (!::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail(::GetLastError());
}

void setSaveFaultsForTesting(const SaveFaults& faults) {
    saveFaults = faults;
}

// A save under way holds its file open without delete sharing; a killed one's handle went with it.
bool removeUnfinishedSave(const QString& path) {
    return ::DeleteFileW(nativePath(path).c_str());
}

FileKind fileKind(const QString& path) {
    const DWORD attributes = ::GetFileAttributesW(nativePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::Missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Folder;
    // Opened for no access: a device's name ("nul.csv") tells its type without a read.
    Handle h(::CreateFileW(nativePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr));
    return h.valid() ? kindOf(::GetFileType(h.get())) : FileKind::Regular;
}

FileReader::FileReader(const QString& path) : path_(path), handle_(openForReading(path)) {}

FileReader::~FileReader() {
    ::CloseHandle(static_cast<HANDLE>(handle_));
}

QByteArray FileReader::read(qint64 maxBytes) {
    QByteArray bytes(static_cast<qsizetype>(maxBytes), Qt::Uninitialized);
    bytes.truncate(qsizetype(readSome(static_cast<HANDLE>(handle_), path_, bytes.data(), size_t(maxBytes))));
    return bytes;
}

size_t FileReader::readInto(char* out, size_t n) {
    return readSome(static_cast<HANDLE>(handle_), path_, out, n);
}

size_t FileReader::readAt(qint64 offset, char* out, size_t n) {
    size_t done = 0;
    while (done < n) {
        // On a handle opened for plain reads the offset is the read's own;
        // the handle's place moves, which no caller of readAt relies on.
        OVERLAPPED at{};
        const quint64 from = quint64(offset) + done;
        at.Offset = DWORD(from & 0xFFFFFFFFu);
        at.OffsetHigh = DWORD(from >> 32);
        DWORD got = 0;
        const DWORD want = DWORD(std::min<size_t>(n - done, 1u << 30));
        if (!::ReadFile(static_cast<HANDLE>(handle_), out + done, want, &got, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) break;
            throwLastError(path_);
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

qint64 FileReader::size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(static_cast<HANDLE>(handle_), &size)) return -1;
    return qint64(size.QuadPart);
}

FileIdentity fileIdentity(const QString& path) {
    Handle h(::CreateFileW(nativePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!h.valid() || !::GetFileInformationByHandle(h.get(), &info)) return {};
    auto ticks = [](FILETIME t) { return qint64((quint64(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 100; };
    return {quint64(info.dwVolumeSerialNumber), (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
            qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow), ticks(info.ftLastWriteTime),
            ticks(info.ftCreationTime)};
}

qint64 fileClockNs() {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return qint64((quint64(now.dwHighDateTime) << 32) | now.dwLowDateTime) * 100;
}

}  // namespace tarlo
