// libFuzzer target for the query files' text: any bytes that are not
// UTF-16 must come back byte for byte from a load and an unedited save,
// whatever they hold (bytes no character has, two codes for one character).
#include "platform/text_encoding.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarlo;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const DecodedText decoded = decodeText(bytes);
    const TextEncoding e = decoded.spelling.encoding;
    if (e == TextEncoding::Utf16LeWithBom || e == TextEncoding::Utf16BeWithBom) return 0;
    if (encodeText(decoded.text, decoded.spelling) != bytes) std::abort();
    return 0;
}
