// make-sample-book: writes a small book into a folder, for a first look at
// the viewer: upright pages that pair into spreads, wide ones that stand
// alone, colour pages, gray ones that show in false colour, a text file and
// a subfolder among them, and names whose code-unit order differs from
// their numeric order.
//
//   make-sample-book path/to/folder
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtGui/QImage>
#include <QtGui/QPainter>

#include <cstdio>

namespace {

// A page: a panel layout with `index` marks along the bottom edge.
QImage Page(int width, int height, int index, bool colour) {
  QImage page(width, height, QImage::Format_RGB32);
  page.fill(QColor(244, 240, 230));
  QPainter p(&page);
  p.setRenderHint(QPainter::Antialiasing);
  const int margin = width / 16;
  const QColor ink(34, 34, 40);
  p.setPen(QPen(ink, 4));
  const int panels = 3;
  const int panelHeight = (height - 2 * margin) / panels;
  for (int i = 0; i < panels; ++i) {
    const QRect panel(margin, margin + i * panelHeight, width - 2 * margin, panelHeight - margin / 2);
    QLinearGradient sky(panel.topLeft(), panel.bottomLeft());
    if (colour) {
      sky.setColorAt(0, QColor::fromHsv((index * 40 + i * 70) % 360, 120, 240));
      sky.setColorAt(1, QColor::fromHsv((index * 40 + i * 70 + 40) % 360, 160, 180));
    } else {
      sky.setColorAt(0, QColor(235, 235, 235));
      sky.setColorAt(1, QColor(70 + 30 * i, 70 + 30 * i, 70 + 30 * i));
    }
    p.setBrush(sky);
    p.drawRect(panel);
    p.setBrush(colour ? QColor::fromHsv((index * 55) % 360, 200, 200) : QColor(40, 40, 40));
    p.drawEllipse(panel.center(), panel.height() / 4, panel.height() / 4);
  }
  p.setBrush(ink);
  for (int mark = 0; mark < index; ++mark)
    p.drawEllipse(QPointF(margin + mark * 18 + 8, height - margin / 2), 6, 6);
  return colour ? page : page.convertToFormat(QImage::Format_Grayscale8);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-sample-book path/to/folder\n");
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(dir + "/extras")) return 1;
  struct Sheet {
    const char* name;
    int width, height;
    bool colour;
    const char* kind;
  } sheets[] = {
      {"01.jpg", 800, 1200, true, "JPEG"},  {"02.jpg", 800, 1200, true, "JPEG"},
      {"03.png", 800, 1200, false, "PNG"},  {"04.png", 800, 1200, false, "PNG"},
      {"05-wide.jpg", 1600, 1200, true, "JPEG"},
      {"06.png", 800, 1200, false, "PNG"},  {"07.jpg", 800, 1200, true, "JPEG"},
      {"1.png", 800, 1200, false, "PNG"},   {"10.jpg", 800, 1200, true, "JPEG"},
      {"2.png", 800, 1200, false, "PNG"},   {"B-cover.jpg", 1200, 1200, true, "JPEG"},
      {"a-gray-wide.png", 1600, 1000, false, "PNG"},
  };
  bool ok = true;
  int index = 1;
  for (const Sheet& s : sheets) ok = Page(s.width, s.height, index++, s.colour).save(dir + "/" + s.name, s.kind) && ok;
  QFile notes(dir + "/notes.txt");
  ok = ok && notes.open(QIODevice::WriteOnly) &&
       notes.write("Not a picture: the viewer skips it.\n") > 0;
  ok = ok && Page(800, 1200, 1, true).save(dir + "/extras/inside.png");
  if (!ok) std::fprintf(stderr, "make-sample-book: cannot write into %s\n", argv[1]);
  return ok ? 0 : 1;
}
