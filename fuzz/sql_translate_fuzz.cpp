// libFuzzer target for the statement rewrites: any text must translate,
// or fail with an Error; never crash, hang or index out of bounds.
#include "platform/error.h"
#include "query/crosstab.h"
#include "query/jet_dialect.h"
#include "query/table_references.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarlo::query;
    const QString sql = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        const QString translated = translateJetSql(sql);
        if (const auto crosstab = Crosstab::parse(translated)) {
            (void)crosstab->valuesQuery();
            (void)crosstab->query({{QStringLiteral("1"), QStringLiteral("1")}});
        }
        (void)rewriteTableReferences(translated, QStringLiteral("/nonexistent/"));
    } catch (const tarlo::Error&) {
    }
    return 0;
}
