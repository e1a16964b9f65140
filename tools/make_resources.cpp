// make-resources: draws the viewer's built-in pictures and writes its
// false-colour palette into a folder (the repository's res/), the window
// icon into another (viewer/shell/) and, given a third, the desktop's
// application icon in the icon theme's sizes into it (packaging/icons/,
// as hicolor/NxN/apps/<id>.png). Run it again after changing a design
// here; the build packs res/ into res.pack and the window icon into the
// program, and installs the theme's icons.
//
//   make-resources path/to/res path/to/icon-folder [path/to/icon-theme-folder]
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

const QColor kInk(232, 226, 210);
const QColor kNight(30, 30, 38);

// "VELMORA" in strokes on a 4 x 6 grid a letter: no font needed.
void DrawName(QPainter& p, QPointF origin, double unit, double width) {
  using Stroke = std::vector<QPointF>;
  const std::vector<std::vector<Stroke>> letters = {
      {{{0, 0}, {2, 6}, {4, 0}}},                                                   // V
      {{{4, 0}, {0, 0}, {0, 6}, {4, 6}}, {{0, 3}, {3, 3}}},                         // E
      {{{0, 0}, {0, 6}, {4, 6}}},                                                   // L
      {{{0, 6}, {0, 0}, {2, 3.5}, {4, 0}, {4, 6}}},                                 // M
      {{{1, 0}, {3, 0}, {4, 1}, {4, 5}, {3, 6}, {1, 6}, {0, 5}, {0, 1}, {1, 0}}},  // O
      {{{0, 6}, {0, 0}, {3, 0}, {4, 1}, {4, 2}, {3, 3}, {0, 3}}, {{2, 3}, {4, 6}}},  // R
      {{{0, 6}, {2, 0}, {4, 6}}, {{0.8, 3.8}, {3.2, 3.8}}},                          // A
  };
  p.setPen(QPen(kInk, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  for (std::size_t i = 0; i < letters.size(); ++i) {
    const QPointF at = origin + QPointF(i * 6.0 * unit, 0);
    for (const Stroke& stroke : letters[i]) {
      QPainterPath path(at + stroke[0] * unit);
      for (std::size_t k = 1; k < stroke.size(); ++k) path.lineTo(at + stroke[k] * unit);
      p.drawPath(path);
    }
  }
}

// An open book: two pages meeting at a spine.
void DrawBook(QPainter& p, QRectF box, const QColor& page, const QColor& edge) {
  const QPointF spineTop(box.center().x(), box.top() + box.height() * 0.12);
  const QPointF spineBottom(box.center().x(), box.bottom());
  for (int side : {-1, 1}) {
    QPainterPath leaf(spineBottom);
    leaf.lineTo(spineTop);
    leaf.cubicTo(spineTop + QPointF(side * box.width() * 0.2, -box.height() * 0.12),
                 QPointF(box.center().x() + side * box.width() * 0.4, box.top()),
                 QPointF(box.center().x() + side * box.width() * 0.5, box.top() + box.height() * 0.05));
    leaf.lineTo(QPointF(box.center().x() + side * box.width() * 0.5, box.bottom() - box.height() * 0.07));
    leaf.cubicTo(QPointF(box.center().x() + side * box.width() * 0.35, box.bottom() - box.height() * 0.12),
                 spineBottom + QPointF(side * box.width() * 0.15, -box.height() * 0.08), spineBottom);
    p.setPen(QPen(edge, 3));
    p.setBrush(page);
    p.drawPath(leaf);
  }
}

QImage Canvas(int w, int h, const QColor& fill) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(fill);
  return image;
}

QImage Tile() {
  // A quiet woven texture: barely lighter threads on a dark ground.
  QImage tile = Canvas(64, 64, kNight);
  QPainter p(&tile);
  p.setPen(QColor(36, 36, 46));
  for (int i = -64; i < 64; i += 8) p.drawLine(i, 0, i + 64, 64);
  p.setPen(QColor(33, 33, 42));
  for (int i = 0; i < 128; i += 8) p.drawLine(i, 0, i - 64, 64);
  return tile;
}

QImage Title() {
  QImage image = Canvas(720, 405, kNight);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  DrawBook(p, QRectF(290, 60, 140, 110), QColor(245, 240, 226), QColor(120, 96, 150));
  DrawName(p, QPointF(360 - (7 * 6 - 2) * 7.0 / 2, 215), 7.0, 5.0);
  p.setPen(QPen(QColor(120, 96, 150), 3));
  p.drawLine(QPointF(220, 290), QPointF(500, 290));
  return image;
}

// A picture frame (hills and a sun) struck through: this entry is no image.
QImage Unknown() {
  QImage image = Canvas(320, 320, kNight);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor line(170, 170, 185);
  p.setPen(QPen(line, 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(QRectF(50, 70, 220, 180), 14, 14);
  p.drawEllipse(QPointF(205, 125), 18, 18);
  QPainterPath hills(QPointF(66, 230));
  hills.lineTo(125, 160);
  hills.lineTo(165, 205);
  hills.lineTo(195, 180);
  hills.lineTo(254, 230);
  p.drawPath(hills);
  p.setPen(QPen(QColor(215, 120, 70), 12, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(60, 270), QPointF(260, 50));
  return image;
}

// A red disc with an exclamation mark: the book could not be opened.
QImage Error() {
  QImage image = Canvas(320, 320, kNight);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(196, 48, 48));
  p.drawEllipse(QPointF(160, 160), 110, 110);
  p.setBrush(QColor(250, 244, 236));
  QPainterPath bar;
  bar.moveTo(146, 80);
  bar.lineTo(174, 80);
  bar.lineTo(166, 190);
  bar.lineTo(154, 190);
  bar.closeSubpath();
  p.drawPath(bar);
  p.drawEllipse(QPointF(160, 225), 15, 15);
  return image;
}

// Four key colours of rising lightness, night blue to warm paper, blended
// in between: a gray level maps to a colour no darker than a lower level's.
QByteArray Palette() {
  struct Key {
    int level, r, g, b;
  } keys[] = {{0, 14, 16, 40}, {85, 88, 44, 122}, {170, 214, 112, 64}, {255, 255, 246, 224}};
  QByteArray planes(768, '\0');
  for (int level = 0; level < 256; ++level) {
    int k = 0;
    while (k < 2 && level > keys[k + 1].level) ++k;
    const Key& a = keys[k];
    const Key& b = keys[k + 1];
    const double t = double(level - a.level) / (b.level - a.level);
    planes[level] = static_cast<char>(std::lround(a.r + (b.r - a.r) * t));
    planes[256 + level] = static_cast<char>(std::lround(a.g + (b.g - a.g) * t));
    planes[512 + level] = static_cast<char>(std::lround(a.b + (b.b - a.b) * t));
  }
  return planes;
}

// The window icon: the title's open book on a rounded night-blue square,
// drawn for 64 x 64 and scaled as a drawing to any other size.
QImage Icon(int size = 64) {
  QImage icon(size, size, QImage::Format_ARGB32);
  icon.fill(Qt::transparent);
  QPainter p(&icon);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  p.setPen(Qt::NoPen);
  p.setBrush(kNight);
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
  DrawBook(p, QRectF(10, 16, 44, 34), QColor(245, 240, 226), QColor(120, 96, 150));
  return icon;
}

// The desktop entry's icon name: the application's id.
constexpr char kAppId[] = "io.github.velmora.Velmora";
// The sizes desktops look for in the hicolor theme.
constexpr int kThemeSizes[] = {16, 22, 24, 32, 48, 64, 128, 256, 512};

bool SaveThemeIcons(const QString& theme) {
  for (int size : kThemeSizes) {
    const QString folder = theme + QString("/hicolor/%1x%1/apps").arg(size);
    if (!QDir().mkpath(folder) || !Icon(size).save(folder + "/" + kAppId + ".png")) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: make-resources path/to/res path/to/icon-folder [path/to/icon-theme-folder]\n");
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]) + "/";
  bool ok = Tile().save(dir + "back.png") && Title().save(dir + "title.png") &&
            Unknown().save(dir + "unknown.png") && Error().save(dir + "error.png");
  QFile palette(dir + "4color4_v0.1.7.amp");
  ok = ok && palette.open(QIODevice::WriteOnly) && palette.write(Palette()) == 768;
  ok = ok && Icon().save(QString::fromLocal8Bit(argv[2]) + "/velmora.png");
  ok = ok && (argc < 4 || SaveThemeIcons(QString::fromLocal8Bit(argv[3])));
  if (!ok) std::fprintf(stderr, "make-resources: cannot write into %s\n", argv[1]);
  return ok ? 0 : 1;
}
