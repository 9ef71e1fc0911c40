#include "csv/column_names.h"

#include "values/case_folding.h"

#include <unordered_map>
#include <unordered_set>

namespace tarlo {

std::vector<std::string> uniqueColumnNames(const std::vector<std::string>& written) {
    std::unordered_set<std::string> files, given;
    for (const std::string& name : written)
        if (!name.empty()) files.insert(foldCase(name));
    // The next number to try for each base: the ones below it are taken for
    // good, so a thousand repeats of one name cost a thousand tries.
    std::unordered_map<std::string, int> next;
    std::vector<std::string> names;
    names.reserve(written.size());
    for (const std::string& name : written) {
        if (!name.empty() && given.insert(foldCase(name)).second) {
            names.push_back(name);
            continue;
        }
        const std::string base = name.empty() ? "NoName" : name;
        int& n = next.try_emplace(foldCase(base), name.empty() ? 0 : 1).first->second;
        for (;; ++n) {
            std::string candidate = n == 0 ? base : base + std::to_string(n);
            const std::string folded = foldCase(candidate);
            if (files.count(folded) || !given.insert(folded).second) continue;
            names.push_back(std::move(candidate));
            ++n;
            break;
        }
    }
    return names;
}

}  // namespace tarlo
