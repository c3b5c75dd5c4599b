#include "widgets/glyphs.h"

#include <QPainter>
#include <QPainterPath>

#include "widgets/flat_style.h"

namespace quorvex {

namespace {

void DrawFolder(QPainter& p, int s, bool open, bool current) {
  const QColor edge(128, 96, 16);
  const QColor face = current ? QColor(255, 214, 80) : QColor(236, 196, 86);
  p.setPen(QPen(edge, 1));
  p.setBrush(face.darker(110));
  QPainterPath back;
  back.moveTo(1.5, 3.5);
  back.lineTo(s * 0.4, 3.5);
  back.lineTo(s * 0.5, 5.5);
  back.lineTo(s - 1.5, 5.5);
  back.lineTo(s - 1.5, s - 2.5);
  back.lineTo(1.5, s - 2.5);
  back.closeSubpath();
  p.drawPath(back);
  p.setBrush(face);
  if (open) {
    QPainterPath front;
    front.moveTo(1.5, s - 2.5);
    front.lineTo(s * 0.25, s * 0.45);
    front.lineTo(s - 0.5, s * 0.45);
    front.lineTo(s - 3.5, s - 2.5);
    front.closeSubpath();
    p.drawPath(front);
  } else {
    p.drawRect(QRectF(1.5, 6.5, s - 3, s - 9));
  }
  if (current) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(148, 39, 48));
    p.drawEllipse(QRectF(s - 6.5, 1, 5, 5));
  }
}

void DrawDocument(QPainter& p, int s, bool program) {
  p.setPen(QPen(QColor(90, 90, 90), 1));
  p.setBrush(Qt::white);
  QPainterPath page;
  page.moveTo(3.5, 1.5);
  page.lineTo(s - 5.5, 1.5);
  page.lineTo(s - 2.5, 4.5);
  page.lineTo(s - 2.5, s - 1.5);
  page.lineTo(3.5, s - 1.5);
  page.closeSubpath();
  p.drawPath(page);
  if (program) {
    p.fillRect(QRectF(4, 3, s - 8, 3), QColor(0, 0, 128));
  } else {
    // A tiny landscape: the list shows pictures.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(120, 170, 220));
    p.drawRect(QRectF(5, 6, s - 10, s - 11));
    p.setBrush(QColor(80, 140, 60));
    QPainterPath hill;
    hill.moveTo(5, s - 5);
    hill.lineTo(s * 0.45, s * 0.55);
    hill.lineTo(s - 5, s - 5);
    hill.closeSubpath();
    p.drawPath(hill);
  }
}

void DrawDrive(QPainter& p, int s, Glyph kind) {
  p.setPen(QPen(QColor(70, 70, 70), 1));
  p.setBrush(QColor(200, 200, 190));
  if (kind == Glyph::DriveOptical) {
    p.setBrush(QColor(210, 210, 230));
    p.drawEllipse(QRectF(1.5, 1.5, s - 3, s - 3));
    p.setBrush(flat::kWindowFace);
    p.drawEllipse(QRectF(s / 2.0 - 2, s / 2.0 - 2, 4, 4));
    return;
  }
  p.drawRect(QRectF(1.5, s * 0.35, s - 3, s * 0.4));
  const QColor lamp = kind == Glyph::DriveRemovable ? QColor(0, 0, 160) : QColor(0, 170, 0);
  p.fillRect(QRectF(s - 5, s * 0.5, 2, 2), lamp);
  if (kind == Glyph::DriveNetwork) {
    p.drawLine(QPointF(s / 2.0, s * 0.75), QPointF(s / 2.0, s - 1.5));
    p.drawLine(QPointF(2, s - 1.5), QPointF(s - 2, s - 1.5));
  }
}

void DrawStop(QPainter& p, int s) {
  // An octagon: the sign everybody reads as "stop".
  QPolygonF octagon;
  const double a = s * 0.29;
  octagon << QPointF(a, 1) << QPointF(s - a, 1) << QPointF(s - 1, a) << QPointF(s - 1, s - a)
          << QPointF(s - a, s - 1) << QPointF(a, s - 1) << QPointF(1, s - a) << QPointF(1, a);
  p.setPen(QPen(QColor(110, 0, 0), 1));
  p.setBrush(QColor(200, 20, 20));
  p.drawPolygon(octagon);
  p.fillRect(QRectF(s * 0.25, s * 0.44, s * 0.5, s * 0.14), Qt::white);
}

}  // namespace

QPixmap GlyphPixmap(Glyph glyph, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  switch (glyph) {
    case Glyph::Document:
      DrawDocument(p, size, false);
      break;
    case Glyph::Program:
      DrawDocument(p, size, true);
      break;
    case Glyph::FolderClosed:
      DrawFolder(p, size, false, false);
      break;
    case Glyph::FolderOpen:
      DrawFolder(p, size, true, false);
      break;
    case Glyph::FolderCurrent:
      DrawFolder(p, size, true, true);
      break;
    case Glyph::DriveFixed:
    case Glyph::DriveRemovable:
    case Glyph::DriveNetwork:
    case Glyph::DriveOptical:
      DrawDrive(p, size, glyph);
      break;
    case Glyph::Stop:
      DrawStop(p, size);
      break;
  }
  return pixmap;
}

QIcon GlyphIcon(Glyph glyph) {
  QIcon icon;
  icon.addPixmap(GlyphPixmap(glyph, 16));
  icon.addPixmap(GlyphPixmap(glyph, 32));
  return icon;
}

QPixmap QuorvexIconPixmap(int size) {
  // A picture on the left half turning into scrambled pixels on the right.
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  const QRectF frame(0.5, 0.5, size - 1, size - 1);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(flat::kBorder, size >= 32 ? 2 : 1));
  p.setBrush(flat::kHighlight);
  p.drawRoundedRect(frame, size / 8.0, size / 8.0);
  p.setRenderHint(QPainter::Antialiasing, false);
  const int inset = size >= 32 ? 3 : 2;
  const QRect inner(inset, inset, size - 2 * inset, size - 2 * inset);
  const int half = inner.width() / 2;
  // Left: sky, sun and hill.
  p.fillRect(QRect(inner.left(), inner.top(), half, inner.height()), QColor(120, 170, 220));
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 210, 60));
  p.drawEllipse(QRectF(inner.left() + half * 0.2, inner.top() + inner.height() * 0.15, half * 0.45,
                       half * 0.45));
  p.setBrush(QColor(70, 130, 50));
  QPainterPath hill;
  hill.moveTo(inner.left(), inner.bottom() + 1);
  hill.lineTo(inner.left(), inner.top() + inner.height() * 0.7);
  hill.quadTo(inner.left() + half * 0.6, inner.top() + inner.height() * 0.45, inner.left() + half,
              inner.top() + inner.height() * 0.65);
  hill.lineTo(inner.left() + half, inner.bottom() + 1);
  hill.closeSubpath();
  p.drawPath(hill);
  p.setRenderHint(QPainter::Antialiasing, false);
  // Right: noise in a fixed pattern.
  const int cells = size >= 32 ? 6 : 3;
  const double cw = static_cast<double>(inner.width() - half) / cells;
  const double ch = static_cast<double>(inner.height()) / (cells * 2);
  uint32_t state = 614052;
  for (int y = 0; y < cells * 2; ++y) {
    for (int x = 0; x < cells; ++x) {
      state = state * 134775813u + 1u;
      const QColor c((state >> 24) & 0xFF, (state >> 16) & 0xFF, (state >> 8) & 0xFF);
      p.fillRect(QRectF(inner.left() + half + x * cw, inner.top() + y * ch, cw + 0.5, ch + 0.5), c);
    }
  }
  p.setPen(QPen(flat::kBorder, 1));
  p.drawLine(inner.left() + half, inner.top(), inner.left() + half, inner.bottom());
  return pixmap;
}

QIcon QuorvexIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) icon.addPixmap(QuorvexIconPixmap(size));
  return icon;
}

}  // namespace quorvex
