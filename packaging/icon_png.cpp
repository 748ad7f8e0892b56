// Writes the application icon as a PNG for the desktop's icon theme.
#include "resources/app_icon.h"

#include <QImage>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tavrin_icon_png OUT.png\n");
        return 2;
    }
    const QImage icon(tavrin::ui::appIcon32);
    if (icon.isNull() || !icon.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "tavrin_icon_png: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
