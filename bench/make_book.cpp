// Writes a book of pages for the end-to-end benchmark: COUNT JPEG pages of
// WIDTH x HEIGHT, each different (a scan-like texture, ink strokes and its
// number), in colour or gray, named 001.jpg, 002.jpg, ...; with a list of
// page numbers ("5,10"), only those (a book of pages of mixed sizes is
// written in two passes).
// Each page also has a flat gray stripe down its whole height whose level
// says its number (StripeLevel), so that one row grabbed from the screen
// tells which pages are on it (page-decode --stripe says how each shows).
#include <QtGui/QColor>
#include <QtGui/QFont>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

// 46, 49, 52, ... 235, then again: 3 levels apart survive the JPEG and the
// scaling on a flat patch, stay apart through the false-colour palette too,
// and clear of black and white backgrounds.
static int StripeLevel(int n) { return 46 + 3 * ((n - 1) % 64); }

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: make-book FOLDER COUNT WIDTH HEIGHT colour|gray [N,N,...]\n");
    return 2;
  }
  // Text needs fonts, and fonts an application; no display is needed.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication application(argc, argv);
  const std::string folder = argv[1];
  const int count = std::atoi(argv[2]), width = std::atoi(argv[3]), height = std::atoi(argv[4]);
  const bool colour = std::string(argv[5]) == "colour";
  std::set<int> only;
  if (argc == 7) {
    std::istringstream list(argv[6]);
    for (std::string number; std::getline(list, number, ',');) only.insert(std::atoi(number.c_str()));
  }
  for (int n = 1; n <= count; ++n) {
    if (!only.empty() && only.count(n) == 0) continue;
    QImage page(width, height, QImage::Format_RGB32);
    uint32_t seed = 2166136261u ^ static_cast<uint32_t>(n);
    for (int y = 0; y < height; ++y) {
      auto* row = reinterpret_cast<QRgb*>(page.scanLine(y));
      for (int x = 0; x < width; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const int paper = 225 + static_cast<int>(seed >> 28) - ((x / 7 + y / 11 + n) % 29 == 0 ? 160 : 0);
        const int v = std::max(0, std::min(255, paper));
        row[x] = colour ? qRgb(v, (v + x / 13 + n * 7) % 256, (v + y / 17) % 256) : qRgb(v, v, v);
      }
    }
    QPainter painter(&page);
    painter.setPen(QPen(QColor(20, 20, 20), width / 100.0));
    for (int k = 0; k < 12; ++k)
      painter.drawLine((k * 131 + n * 37) % width, (k * 251) % height, (k * 317 + n * 53) % width, (k * 97 + n * 71) % height);
    // On 16-pixel block boundaries, so the JPEG keeps it flat to its edges.
    const int stripeLeft = width / 20 / 16 * 16, stripeRight = width / 5 / 16 * 16;
    const int level = StripeLevel(n);
    painter.fillRect(stripeLeft, 0, stripeRight - stripeLeft, height, QColor(level, level, level));
    QFont font = painter.font();
    font.setPixelSize(height / 6);
    painter.setFont(font);
    painter.drawText(page.rect(), Qt::AlignCenter, QString::number(n));
    painter.end();
    char name[32];
    std::snprintf(name, sizeof name, "/%03d.jpg", n);
    const QImage out = colour ? page : page.convertToFormat(QImage::Format_Grayscale8);
    if (!out.save(QString::fromStdString(folder + name), "JPEG", 90)) {
      std::fprintf(stderr, "cannot write %s%s\n", folder.c_str(), name);
      return 1;
    }
  }
  return 0;
}
