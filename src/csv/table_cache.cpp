#include "csv/table_cache.h"

#include "csv/pieced_file.h"
#include "platform/file_io.h"

#include <algorithm>

namespace tarlo {

TableCache::TableCache(size_t memoryBound) : bound_(memoryBound) {}

TableCache& TableCache::shared() {
    static TableCache cache(size_t(1536) << 20);
    return cache;
}

std::shared_ptr<const CsvTable> TableCache::get(const QString& path, const ParseProgress& progress, const ColumnWish& wish) {
    // Taken before the read and again after it: a table is kept only under
    // the identity its file had all along, so a file that changed meanwhile
    // is read again next time.
    const FileIdentity identity = fileIdentity(path);
    const TableFormat format = tableFormatFor(path);
    ColumnWish reading = wish;
    {
        std::lock_guard guard(lock_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->path != path) continue;
            // A file read in pieces is held whole once there is room for it.
            const bool roomNow = it->table->pieces() && memoryToLoad(path, identity.size, format) <= tableMemoryBound();
            if (it->identity == identity && identity.size >= 0 && it->format == format && !roomNow) {
                if (it->table->hasLoaded(wish)) {
                    entries_.splice(entries_.begin(), entries_, it);
                    return it->table;
                }
                // Read again with the columns already read, so the next statement finds them too.
                const ColumnWish had = it->table->loadedColumns();
                reading.all = reading.all || had.all;
                reading.names.insert(reading.names.end(), had.names.begin(), had.names.end());
            }
            entries_.erase(it);
            break;
        }
    }
    // A file too big to hold is read a piece at a time as the statement
    // reads it: only where its pieces start and its columns' types are kept.
    // A piece takes a sixteenth of the memory a load may, so a statement's
    // own state has room.
    const qint64 bound = tableMemoryBound();
    std::shared_ptr<const CsvTable> table;
    if (identity.size > 0 && memoryToLoad(path, identity.size, format) > bound) {
        table = PiecedFile::open(path, progress, format, size_t(std::clamp<qint64>(bound / 16, 256, qint64(64) << 20)));
    } else {
        // Parsed outside the lock: another run may read another file meanwhile.
        table = CsvTable::load(path, progress, format, reading);
        // A name the header spells otherwise than the wish found (never, but a
        // column left unread would read as nulls): the whole file then.
        if (!table->hasLoaded(wish)) table = CsvTable::load(path, progress, format);
    }
    if (fileIdentity(path) != identity) return table;
    std::lock_guard guard(lock_);
    if (table->memoryBytes() > bound_) return table;
    entries_.push_front({path, identity, format, table});
    size_t used = 0;
    for (auto it = entries_.begin(); it != entries_.end();) {
        used += it->table->memoryBytes();
        it = used > bound_ ? entries_.erase(it) : std::next(it);
    }
    return table;
}

}  // namespace tarlo
