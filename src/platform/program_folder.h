// Where the program lives: ProgramFolder is the folder of the running
// executable, always ending in "/", and the whole configuration of Tarlo.
#pragma once

#include <QString>

namespace tarlo {

QString executablePath();

// The folder part of a path, up to and including its last separator.
QString folderOfPath(const QString& path);

// The short (8.3) form of a path where the file system has one; POSIX has
// none, so the path comes back unchanged.
QString makeShortPath(const QString& path);

QString programFolder();

// The executable's file name cut at its first ".", every character after the
// first in lower case: the caption of the application's boxes.
QString applicationTitle(const QString& executablePath);

}  // namespace tarlo
