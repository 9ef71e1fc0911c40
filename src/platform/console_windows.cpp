// The console through WriteConsoleW, so every character shows as it is,
// whatever the console's code page.
#include "platform/console.h"

#include <algorithm>

#include <io.h>
#include <windows.h>

namespace tarlo {

namespace {
HANDLE handleOf(std::FILE* stream) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}
}  // namespace

bool isConsole(std::FILE* stream) {
    DWORD mode = 0;
    const HANDLE handle = handleOf(stream);
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

bool writeToConsole(std::FILE* stream, QStringView text) {
    std::fflush(stream);
    const HANDLE handle = handleOf(stream);
    const auto* data = reinterpret_cast<const wchar_t*>(text.utf16());
    qsizetype left = text.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = DWORD(std::min<qsizetype>(left, 8192));
        if (!::WriteConsoleW(handle, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        left -= written;
    }
    return true;
}

}  // namespace tarlo
