#include "gui/tool_icons.h"

#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace ulmora {

namespace {

constexpr int kResetImage = 100;  // not in the toolbar strip

// Every image is drawn on a 16 x 16 grid; the painter maps it onto the requested square.
void DrawImage(QPainter& p, int image) {
  p.setRenderHint(QPainter::Antialiasing);
  const QColor ink(0x20, 0x2a, 0x3a);
  const QColor blue(0x1f, 0x5f, 0xbf);
  const QColor red(0xd0, 0x20, 0x20);
  const QColor green(0x1c, 0x9a, 0x3a);
  const QColor amber(0xe0, 0x90, 0x10);
  QPen outline(ink, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  switch (image) {
    case kImgPlay: {
      QPainterPath path;
      path.moveTo(4, 2.5), path.lineTo(13.5, 8), path.lineTo(4, 13.5), path.closeSubpath();
      p.setPen(QPen(green.darker(140), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(green);
      p.drawPath(path);
      break;
    }
    case kImgPause:
      p.setPen(QPen(blue.darker(140), 1.0));
      p.setBrush(blue);
      p.drawRoundedRect(QRectF(3.5, 2.5, 3.5, 11), 0.8, 0.8);
      p.drawRoundedRect(QRectF(9, 2.5, 3.5, 11), 0.8, 0.8);
      break;
    case kImgStop:
      p.setPen(QPen(ink, 1.0));
      p.setBrush(QColor(0x50, 0x58, 0x68));
      p.drawRoundedRect(QRectF(3, 3, 10, 10), 1.2, 1.2);
      break;
    case kImgCapture:  // a record mark: something is being written
      p.setPen(QPen(ink, 1.2));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QPointF(8, 8), 6.2, 6.2);
      p.setPen(QPen(red.darker(130), 0.8));
      p.setBrush(red);
      p.drawEllipse(QPointF(8, 8), 4, 4);
      break;
    case kImgLivePreview: {  // an eye
      QPainterPath eye;
      eye.moveTo(1, 8), eye.quadTo(8, 1, 15, 8), eye.quadTo(8, 15, 1, 8);
      p.setPen(outline);
      p.setBrush(Qt::white);
      p.drawPath(eye);
      p.setPen(Qt::NoPen);
      p.setBrush(blue);
      p.drawEllipse(QPointF(8, 8), 3, 3);
      p.setBrush(ink);
      p.drawEllipse(QPointF(8, 8), 1.3, 1.3);
      break;
    }
    case kImgUnused:  // a monitor: the strip's spare image, kept so the strip stays complete
      p.setPen(QPen(ink, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(QColor(0x30, 0x38, 0x48));
      p.drawRoundedRect(QRectF(1.5, 2.5, 13, 9), 1, 1);
      p.drawLine(QPointF(8, 11.5), QPointF(8, 13.5));
      p.drawLine(QPointF(5, 13.8), QPointF(11, 13.8));
      break;
    case kImgDefault:  // three sliders with their knobs back in the middle
      p.setPen(QPen(ink, 1.2, Qt::SolidLine, Qt::RoundCap));
      for (double y : {3.5, 8.0, 12.5}) p.drawLine(QPointF(1.5, y), QPointF(14.5, y));
      p.setPen(QPen(ink, 1.0));
      p.setBrush(amber);
      for (double y : {3.5, 8.0, 12.5}) p.drawRect(QRectF(6.5, y - 2, 3, 4));
      break;
    case kImgAuto: {
      p.setPen(QPen(blue.darker(130), 1.0));
      p.setBrush(QColor(0xd8, 0xe6, 0xfa));
      p.drawRoundedRect(QRectF(1, 1, 14, 14), 2.5, 2.5);
      QPainterPath a;  // a bold "A" made of strokes, independent of the fonts installed
      a.moveTo(4, 13), a.lineTo(8, 3), a.lineTo(12, 13);
      a.moveTo(5.6, 9.5), a.lineTo(10.4, 9.5);
      p.setPen(QPen(blue.darker(150), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(Qt::NoBrush);
      p.drawPath(a);
      break;
    }
    case kImgAutoAmp: {  // brightness: a sun
      p.setPen(QPen(amber.darker(150), 1.2, Qt::SolidLine, Qt::RoundCap));
      for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(8, 8);
        p.rotate(i * 45.0);
        p.drawLine(QPointF(0, -5.2), QPointF(0, -7.2));
        p.restore();
      }
      p.setPen(QPen(amber.darker(150), 1.0));
      p.setBrush(QColor(0xff, 0xc8, 0x30));
      p.drawEllipse(QPointF(8, 8), 3.6, 3.6);
      break;
    }
    case kImgAutoAccum:  // a stack of frames summed into one
      p.setPen(QPen(ink, 1.0));
      p.setBrush(QColor(0xb8, 0xc4, 0xd8));
      p.drawRect(QRectF(5.5, 1.5, 9, 7));
      p.setBrush(QColor(0x88, 0x9c, 0xbc));
      p.drawRect(QRectF(3.5, 4, 9, 7));
      p.setBrush(blue);
      p.drawRect(QRectF(1.5, 6.5, 9, 7));
      break;
    case kImgAutoDelay:  // a clock
      p.setPen(QPen(ink, 1.2));
      p.setBrush(Qt::white);
      p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
      p.setPen(QPen(ink, 1.4, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(8, 8), QPointF(8, 3.8));
      p.drawLine(QPointF(8, 8), QPointF(11.2, 9.6));
      break;
    case kImgNRH:
    case kImgNRV: {  // banding stripes, struck through
      p.save();
      if (image == kImgNRV) {
        p.translate(16, 0);
        p.rotate(90);
      }
      p.setPen(Qt::NoPen);
      const QColor bands[4] = {QColor(0x60, 0x68, 0x78), QColor(0xb0, 0xb8, 0xc8), QColor(0x60, 0x68, 0x78),
                               QColor(0xb0, 0xb8, 0xc8)};
      for (int i = 0; i < 4; ++i) {
        p.setBrush(bands[i]);
        p.drawRect(QRectF(1.5, 1.5 + i * 3.25, 13, 3.25));
      }
      p.restore();
      p.setPen(QPen(red, 1.8, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(2.5, 13.5), QPointF(13.5, 2.5));
      break;
    }
    case kImgRecord: {  // a strip of film with the record mark: a recording is being written
      p.setPen(QPen(ink, 1.0));
      p.setBrush(QColor(0x30, 0x38, 0x48));
      p.drawRoundedRect(QRectF(1.5, 2.5, 13, 11), 1.2, 1.2);
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0xe8, 0xec, 0xf2));
      for (double x : {3.0, 6.0, 9.0, 12.0}) {
        p.drawRect(QRectF(x - 0.2, 3.6, 1.4, 1.3));
        p.drawRect(QRectF(x - 0.2, 11.1, 1.4, 1.3));
      }
      p.setPen(QPen(red.darker(130), 0.8));
      p.setBrush(red);
      p.drawEllipse(QPointF(8, 8), 2.4, 2.4);
      break;
    }
    case kResetImage: {  // an arrow turning back
      QPainterPath arc;
      arc.arcMoveTo(QRectF(2.5, 2.5, 11, 11), 120);
      arc.arcTo(QRectF(2.5, 2.5, 11, 11), 120, -300);
      p.setPen(QPen(blue.darker(130), 1.6, Qt::SolidLine, Qt::RoundCap));
      p.setBrush(Qt::NoBrush);
      p.drawPath(arc);
      QPainterPath head;  // at the arc's start, pointing along it
      head.moveTo(1.2, 2.2), head.lineTo(6.6, 2.0), head.lineTo(3.2, 7.0), head.closeSubpath();
      p.setPen(Qt::NoPen);
      p.setBrush(blue.darker(130));
      p.drawPath(head);
      break;
    }
    default:
      break;
  }
}

class DrawnIconEngine : public QIconEngine {
 public:
  explicit DrawnIconEngine(int image) : image_(image) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    QPixmap pm = pixmap((QSizeF(rect.size()) * ratio).toSize(), mode, state);
    pm.setDevicePixelRatio(ratio);
    painter->drawPixmap(rect.topLeft(), pm);
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
    QImage img(size.isValid() ? size : QSize(1, 1), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
      QPainter p(&img);
      const qreal side = qMin(img.width(), img.height());
      p.translate((img.width() - side) / 2.0, (img.height() - side) / 2.0);
      p.scale(side / 16.0, side / 16.0);
      DrawImage(p, image_);
    }
    if (mode == QIcon::Disabled) Fade(img);
    return QPixmap::fromImage(img);
  }

  QIconEngine* clone() const override { return new DrawnIconEngine(image_); }
  QString key() const override { return QStringLiteral("ulmora-drawn"); }

 private:
  // Grey and half transparent, as disabled tools usually look.
  static void Fade(QImage& img) {
    img = img.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
      for (int x = 0; x < img.width(); ++x) {
        const int grey = qGray(line[x]);
        const int lifted = 110 + grey / 3;
        line[x] = qRgba(lifted, lifted, lifted, qAlpha(line[x]) / 2);
      }
    }
  }

  int image_;
};

}  // namespace

QIcon ToolbarIcon(int image) { return QIcon(new DrawnIconEngine(image)); }

QIcon ResetIcon() { return QIcon(new DrawnIconEngine(kResetImage)); }

}  // namespace ulmora
