// The shared CSV corpora next to the checkout, when they are there.
#pragma once

#include <QDir>
#include <QString>

inline QString corporaDir() {
    const QString dir = QStringLiteral(TARLO_CORPORA_DIR);
    return QDir(dir).exists() ? dir + QLatin1Char('/') : QString();
}

#define REQUIRE_CORPORA()                                                                    \
    if (corporaDir().isEmpty()) GTEST_SKIP() << "no ../shared/corpora next to the checkout"
