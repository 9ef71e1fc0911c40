// Finds the file behind a table name in the folder: the exact name first,
// else the single file whose name matches ignoring case, because queries
// written on a case-insensitive system must keep working. Names that would
// reach outside the folder are refused: tables are the folder's own files.
#pragma once

#include <QString>

namespace tarlo {

// The full path for the name (folder ends in "/"). Throws Error for a name
// reaching outside the folder or matching several files; a name matching
// nothing gives folder + name, so opening it reports the missing file.
QString findFolderFile(const QString& folder, const QString& name);

// The same for a table, also refusing a pipe, a device or a folder by the
// name with a message that says which it is.
QString resolveTableFile(const QString& folder, const QString& name);

}  // namespace tarlo
