// libFuzzer target for the query files' text: any bytes that are not
// UTF-16 must come back byte for byte from a decode and an encode, whatever
// they hold (bytes no character has, two codes for one character, a NUL);
// with their line breaks made CR LF, as a save writes them, also from a
// query file's load and an unedited save.
#include "platform/text_encoding.h"
#include "platform/text_lines.h"
#include "workspace/query_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

bool isUtf16(const tarlo::DecodedText& decoded) {
    const tarlo::TextEncoding e = decoded.spelling.encoding;
    return e == tarlo::TextEncoding::Utf16LeWithBom || e == tarlo::TextEncoding::Utf16BeWithBom;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarlo;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const DecodedText decoded = decodeText(bytes);
    if (isUtf16(decoded)) return 0;
    if (encodeText(decoded.text, decoded.spelling) != bytes) std::abort();

    // Line breaks are bytes of their own in UTF-8 and CP932, never part of a character.
    QByteArray file;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        if (c == '\r' || c == '\n') file += "\r\n";
        else file += c;
    }
    if (!file.isEmpty() && !file.endsWith("\r\n")) file += "\r\n";
    const DecodedText saved = decodeText(file);
    if (isUtf16(saved)) return 0;
    const QueryFile loaded = queryFileOf(file);
    if (encodeText(joinLinesCrLf(loaded.lines), saved.spelling) != file) std::abort();
    return 0;
}
