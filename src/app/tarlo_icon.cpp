// tarlo-icon: writes Tarlo's icon as a Windows icon file, drawn as the window
// draws it; the Windows build puts the file into tarlo.exe.
#include "ui/app_icon.h"

#include <QFile>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: tarlo-icon OUT.ico\n", stderr);
        return 2;
    }
    QFile out(QString::fromLocal8Bit(argv[1]));
    const QByteArray bytes = tarloIconFile();
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.flush()) {
        std::fprintf(stderr, "tarlo-icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
