// ulmora-icon: draws the program's icon (a crescent moon and three stars on a night disc) as PNGs of
// the given sizes and as an SVG, from one set of shapes, so every size shows the same picture.
// Usage: ulmora-icon OUTDIR SIZE...   writes OUTDIR/<S>x<S>/apps/ulmora.png and OUTDIR/scalable/apps/ulmora.svg
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Shape {
  QPainterPath path;  // in a 256 x 256 box
  QColor fill;
};

std::vector<Shape> Shapes() {
  QPainterPath disc;
  disc.addEllipse(QPointF(128, 128), 122, 122);
  QPainterPath moon, bite;
  moon.addEllipse(QPointF(138, 118), 62, 62);
  bite.addEllipse(QPointF(164, 92), 54, 54);
  std::vector<Shape> shapes{{disc, QColor(0x16, 0x1c, 0x38)}, {moon.subtracted(bite), QColor(0xee, 0xf0, 0xf8)}};
  for (const QPointF c : {QPointF(62, 92), QPointF(92, 188), QPointF(190, 176)}) {
    QPainterPath star;
    star.addEllipse(c, 7, 7);
    shapes.push_back({star, QColor(0xc8, 0xd0, 0xe8)});
  }
  return shapes;
}

QString SvgPathData(const QPainterPath& p) {
  QString d;
  for (int i = 0; i < p.elementCount(); ++i) {
    const QPainterPath::Element e = p.elementAt(i);
    if (e.type == QPainterPath::MoveToElement) {
      d += QStringLiteral("M%1 %2").arg(e.x, 0, 'f', 2).arg(e.y, 0, 'f', 2);
    } else if (e.type == QPainterPath::LineToElement) {
      d += QStringLiteral("L%1 %2").arg(e.x, 0, 'f', 2).arg(e.y, 0, 'f', 2);
    } else if (e.type == QPainterPath::CurveToElement && i + 2 < p.elementCount()) {
      const QPainterPath::Element c2 = p.elementAt(i + 1), to = p.elementAt(i + 2);
      d += QStringLiteral("C%1 %2 %3 %4 %5 %6")
               .arg(e.x, 0, 'f', 2).arg(e.y, 0, 'f', 2).arg(c2.x, 0, 'f', 2).arg(c2.y, 0, 'f', 2)
               .arg(to.x, 0, 'f', 2).arg(to.y, 0, 'f', 2);
      i += 2;
    }
  }
  return d + QLatin1Char('Z');
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ulmora-icon OUTDIR SIZE...\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const std::vector<Shape> shapes = Shapes();
  for (int i = 2; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size < 8 || size > 1024) {
      std::fprintf(stderr, "ulmora-icon: bad size %s\n", argv[i]);
      return 2;
    }
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.scale(size / 256.0, size / 256.0);
    for (const Shape& s : shapes) p.fillPath(s.path, s.fill);
    p.end();
    const QString path = QStringLiteral("%1/%2x%2/apps/ulmora.png").arg(out).arg(size);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !img.save(path, "PNG")) {
      std::fprintf(stderr, "ulmora-icon: cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  QString svg = QStringLiteral(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 256 256\">\n");
  for (const Shape& s : shapes)
    svg += QStringLiteral("  <path fill=\"%1\" d=\"%2\"/>\n").arg(s.fill.name(), SvgPathData(s.path));
  svg += QStringLiteral("</svg>\n");
  const QString svgPath = out + QStringLiteral("/scalable/apps/ulmora.svg");
  if (!WriteFile(svgPath, svg.toUtf8())) {
    std::fprintf(stderr, "ulmora-icon: cannot write %s\n", qPrintable(svgPath));
    return 1;
  }
  return 0;
}
