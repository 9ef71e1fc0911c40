// Parsed table files kept between runs of one process, keyed by path, the
// file's identity (device, inode, size, modification and change time) and
// the format schema.ini gives it, within a memory bound; a changed file, or
// a changed format, is read again.
#pragma once

#include "csv/csv_table.h"
#include "platform/file_io.h"

#include <list>
#include <mutex>

namespace tarlo {

class TableCache {
public:
    explicit TableCache(size_t memoryBound);
    static TableCache& shared();

    // The table with at least the columns of wish read: a kept table that
    // lacks one is read again, with the columns it had and those wished.
    std::shared_ptr<const CsvTable> get(const QString& path, const ParseProgress& progress = {}, const ColumnWish& wish = {});

private:
    struct Entry {
        QString path;
        FileIdentity identity;
        TableFormat format;
        std::shared_ptr<const CsvTable> table;
    };
    mutable std::mutex lock_;
    std::list<Entry> entries_;  // most recently used first
    size_t bound_;
};

}  // namespace tarlo
