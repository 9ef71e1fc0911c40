// libFuzzer target for the CSV reader: any bytes must either load as a
// table or fail with an Error; never crash, hang or read out of bounds.
// The first byte picks the delimiter, the quote and the header line, as
// schema.ini may set them.
#include "platform/error.h"
#include "csv/csv_reader.h"
#include "csv/csv_table.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarlo;
    if (size == 0) return 0;
    TableFormat format;
    const uint8_t pick = data[0];
    format.delimiter = ",;\t|"[pick & 3];
    format.quote = (pick & 4) ? '\0' : (pick & 8) ? '\'' : '"';
    format.header = !(pick & 16);
    if (pick & 32) format.columns = {{"a", DeclaredType::Integer, "Long"}, {"b", DeclaredType::DateTime, "Date"}};
    try {
        TextBuffer utf8 = decodeToUtf8(textBufferOf({reinterpret_cast<const char*>(data + 1), size - 1}));
        const auto table = CsvTable::fromUtf8({utf8.data(), utf8.size()}, QStringLiteral("fuzz.csv"), format);
        for (size_t c = 0; c < table->columnCount(); ++c) {
            for (size_t r = 0; r < table->rowCount(); ++r) (void)table->displayText(r, c);
            if (table->rowCount() < 5000) (void)table->rowsInOrder(c);
        }
    } catch (const tarlo::Error&) {
    }
    return 0;
}
