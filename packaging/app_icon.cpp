// Writes the application icon for the desktop's icon theme (OUT.png, or with
// --theme DIR every size and the scalable picture in DIR/hicolor) or as the
// Windows icon resource (OUT.ico: 32 x 32, 16 colours). With --check FILE.ico it
// tells whether FILE.ico still holds exactly the picture the windows show.
#include "resources/app_icon.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace {

// The sixteen colours of the standard Windows palette, in their usual order.
constexpr std::array<QRgb, 16> palette = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

std::optional<std::uint8_t> paletteIndex(QRgb pixel) {
    for (std::size_t i = 0; i < palette.size(); ++i) {
        if ((pixel & 0xFFFFFF) == palette[i]) {
            return static_cast<std::uint8_t>(i);
        }
    }
    return std::nullopt;
}

void put16(QByteArray& out, unsigned v) {
    out.append(static_cast<char>(v & 0xFF)).append(static_cast<char>((v >> 8) & 0xFF));
}
void put32(QByteArray& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// One 4-bit image in an icon file: the directory, the bitmap header, the
// palette, the colour rows and the transparency mask, both bottom-up.
std::optional<QByteArray> icoBytes(const QImage& icon) {
    const int w = icon.width(), h = icon.height();
    const int colourRow = (w * 4 + 31) / 32 * 4, maskRow = (w + 31) / 32 * 4;
    const auto imageSize = static_cast<std::uint32_t>(40 + 16 * 4 + (colourRow + maskRow) * h);
    QByteArray out;
    put16(out, 0);
    put16(out, 1); // an icon
    put16(out, 1); // one image
    out.append(static_cast<char>(w)).append(static_cast<char>(h));
    out.append(static_cast<char>(16)).append('\0'); // colours, reserved
    put16(out, 1);                                  // planes
    put16(out, 4);                                  // bits per pixel
    put32(out, imageSize);
    put32(out, 6 + 16);
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(w));
    put32(out, static_cast<std::uint32_t>(h * 2)); // colour rows and mask rows
    put16(out, 1);
    put16(out, 4);
    for (int i = 0; i < 6; ++i) {
        put32(out, 0);
    }
    for (const QRgb c : palette) {
        put32(out, c); // blue, green, red, reserved
    }
    QByteArray colours, mask;
    for (int y = h - 1; y >= 0; --y) {
        QByteArray c(colourRow, '\0'), m(maskRow, '\0');
        for (int x = 0; x < w; ++x) {
            const QRgb pixel = icon.pixel(x, y);
            std::uint8_t index = 0;
            if (qAlpha(pixel) == 0) {
                m[x / 8] = static_cast<char>(m[x / 8] | (0x80 >> (x % 8)));
            } else if (const auto found = paletteIndex(pixel)) {
                index = *found;
            } else {
                std::fprintf(stderr, "tavrin_icon: colour #%06X at %d,%d is not one of the 16\n",
                             pixel & 0xFFFFFF, x, y);
                return std::nullopt;
            }
            c[x / 2] = static_cast<char>(c[x / 2] | (x % 2 == 0 ? index << 4 : index));
        }
        colours += c;
        mask += m;
    }
    return out + colours + mask;
}

// The picture as an SVG: one square per run of pixels of one colour in a row,
// with crisp edges, so that it scales as the pixels it is made of.
QByteArray svgBytes(const QImage& icon) {
    QByteArray out = QByteArrayLiteral(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 32 32\" width=\"32\" "
        "height=\"32\" shape-rendering=\"crispEdges\">\n");
    for (int y = 0; y < icon.height(); ++y) {
        for (int x = 0; x < icon.width();) {
            const QRgb pixel = icon.pixel(x, y);
            int end = x + 1;
            while (end < icon.width() && icon.pixel(end, y) == pixel) {
                ++end;
            }
            if (qAlpha(pixel) != 0) {
                out += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"1\" "
                                      "fill=\"#%4\"/>\n")
                           .arg(x)
                           .arg(y)
                           .arg(end - x)
                           .arg(pixel & 0xFFFFFF, 6, 16, QLatin1Char('0'))
                           .toLatin1();
            }
            x = end;
        }
    }
    return out + "</svg>\n";
}

// The theme's sizes: whole multiples keep every pixel square and sharp; 16
// and 48 are smoothed down from the next multiple above them.
bool writeTheme(const QImage& icon, const QString& dir) {
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const int up = (size + 31) / 32 * 32;
        QImage picture = icon.scaled(up, up, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        if (up != size) {
            picture = picture.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        const QString folder = QStringLiteral("%1/hicolor/%2x%2/apps").arg(dir).arg(size);
        if (!QDir().mkpath(folder) ||
            !picture.save(folder + QStringLiteral("/tavrin.png"), "PNG")) {
            return false;
        }
    }
    const QString folder = dir + QStringLiteral("/hicolor/scalable/apps");
    QFile svg(folder + QStringLiteral("/tavrin.svg"));
    const QByteArray bytes = svgBytes(icon);
    return QDir().mkpath(folder) && svg.open(QIODevice::WriteOnly) &&
           svg.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char** argv) {
    const bool check = argc == 3 && QByteArray(argv[1]) == "--check";
    const bool theme = argc == 3 && QByteArray(argv[1]) == "--theme";
    if (argc != 2 && !check && !theme) {
        std::fprintf(stderr, "usage: tavrin_icon OUT.png|OUT.ico\n"
                             "       tavrin_icon --theme DIR\n"
                             "       tavrin_icon --check FILE.ico\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[argc - 1]);
    const QImage icon(tavrin::ui::appIcon32);
    if (icon.isNull()) {
        return 1;
    }
    if (theme) {
        if (!writeTheme(icon, path)) {
            std::fprintf(stderr, "tavrin_icon: cannot write the icons below %s\n", argv[2]);
            return 1;
        }
        return 0;
    }
    if (!path.endsWith(QStringLiteral(".ico"))) {
        if (!icon.save(path, "PNG")) {
            std::fprintf(stderr, "tavrin_icon: cannot write %s\n", argv[1]);
            return 1;
        }
        return 0;
    }
    const std::optional<QByteArray> bytes = icoBytes(icon);
    if (!bytes) {
        return 1;
    }
    QFile file(path);
    if (check) {
        if (!file.open(QIODevice::ReadOnly) || file.readAll() != *bytes) {
            std::fprintf(stderr,
                         "tavrin_icon: %s is not the application icon; write it again with "
                         "tavrin_icon %s\n",
                         argv[2], argv[2]);
            return 1;
        }
        // Qt's own ICO reader must see the same picture, transparency included.
        const QImage decoded = QImage(path, "ICO").convertToFormat(QImage::Format_ARGB32);
        if (decoded != icon.convertToFormat(QImage::Format_ARGB32)) {
            std::fprintf(stderr, "tavrin_icon: %s does not read back as the icon\n", argv[2]);
            return 1;
        }
        return 0;
    }
    if (!file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size()) {
        std::fprintf(stderr, "tavrin_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
