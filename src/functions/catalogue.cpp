// Reading the function catalogue by a statement's names.
#include "functions/catalogue.h"

namespace tarlo {

const FunctionRow* functionRow(const QString& name) {
    // Every row's name is ASCII: a name with other letters has no row.
    for (const QChar c : name)
        if (c.unicode() > 0x7F) return nullptr;
    const QByteArray latin = name.toLatin1();
    return catalogueRow(std::string_view(latin.constData(), size_t(latin.size())));
}

std::optional<FunctionFacts> functionFacts(const QString& name) {
    const FunctionRow* row = functionRow(name);
    if (!row) return std::nullopt;
    FunctionFacts facts{.result = row->result, .rule = row->rule, .numbers = row->numbers,
                        .numberArgument = row->numberArgument, .count = {}, .textRule = row->textRule};
    if (row->countedHere) facts.count = ArgumentCount{row->least, row->most};
    return facts;
}

bool isAggregateFunction(const QString& name) {
    const FunctionRow* row = functionRow(name);
    return row && row->aggregate;
}

bool isCallableFunction(const char* name) {
    const FunctionRow* row = name ? catalogueRow(name) : nullptr;
    return row && row->body != Body::Translated;
}

}  // namespace tarlo
