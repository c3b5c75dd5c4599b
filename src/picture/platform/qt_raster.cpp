#include "picture/platform/qt_raster.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>
#include <bit>
#include <cstring>

namespace quorvex::platform {

namespace {

static_assert(std::endian::native == std::endian::little,
              "ARGB32 rows are read as blue, green, red, alpha bytes");

QtMessageHandler previousHandler = nullptr;

// Qt's notes about the environment and about SVG features it skips would
// only clutter the output of a program that has no window.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg) return;
  if (previousHandler) previousHandler(type, context, message);
}

// Text in a picture needs Qt's font database, and that needs a GUI
// application object. A process without any application object (the
// command line, the tests) gets one on the offscreen platform, made once
// and kept for the life of the process. Returns whether fonts are usable.
bool EnsureGuiApplication() {
  if (QCoreApplication* existing = QCoreApplication::instance()) {
    return qobject_cast<QGuiApplication*>(existing) != nullptr;
  }
  static int argc = 3;
  static char name[] = "quorvex";
  static char option[] = "-platform";
  static char platform[] = "offscreen";
  static char* argv[] = {name, option, platform, nullptr};
  static QGuiApplication* application = [] {
    previousHandler = qInstallMessageHandler(QuietHandler);
    return new QGuiApplication(argc, argv);
  }();
  return application != nullptr;
}

// Under an application object without fonts, text would end the process;
// the rest of the picture can still be drawn.
QByteArray Document(const std::string& svg) {
  QByteArray document(svg.data(), static_cast<qsizetype>(svg.size()));
  if (EnsureGuiApplication()) return document;
  qsizetype start;
  while ((start = document.indexOf("<text")) >= 0) {
    const qsizetype tagEnd = document.indexOf('>', start);
    if (tagEnd < 0) {
      document.truncate(start);
      break;
    }
    qsizetype end = tagEnd + 1;
    if (document[tagEnd - 1] != '/') {
      const qsizetype close = document.indexOf("</text>", tagEnd);
      end = close < 0 ? document.size() : close + 7;
    }
    document.remove(start, end - start);
  }
  return document;
}

void CopyStraight(const QImage& image, Raster& raster) {
  const QImage straight = image.convertToFormat(QImage::Format_ARGB32);
  raster.width = straight.width();
  raster.height = straight.height();
  const size_t rowBytes = static_cast<size_t>(raster.width) * 4;
  raster.bgra.resize(rowBytes * static_cast<size_t>(raster.height));
  for (int32_t y = 0; y < raster.height; ++y) {
    std::memcpy(raster.bgra.data() + rowBytes * static_cast<size_t>(y), straight.constScanLine(y),
                rowBytes);
  }
}

}  // namespace

bool DecodePng(const uint8_t* data, size_t size, uint64_t maxPixels, Raster& raster) {
  QByteArray bytes =
      QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "png");
  const QSize declared = reader.size();
  if (!declared.isValid() || declared.isEmpty() ||
      static_cast<uint64_t>(declared.width()) * static_cast<uint64_t>(declared.height()) >
          maxPixels) {
    return false;
  }
  const QImage image = reader.read();
  if (image.isNull()) return false;
  CopyStraight(image, raster);
  return true;
}

bool SvgIsValid(const std::string& svg) {
  const QSvgRenderer renderer(Document(svg));
  return renderer.isValid();
}

bool RenderSvg(const std::string& svg, const SvgWindow& window, Raster& raster) {
  if (window.width <= 0 || window.height <= 0 || window.targetWidth <= 0 ||
      window.targetHeight <= 0 || !(window.viewWidth > 0) || !(window.viewHeight > 0)) {
    return false;
  }
  QSvgRenderer renderer(Document(svg));
  if (!renderer.isValid()) return false;
  renderer.setViewBox(QRectF(window.viewX, window.viewY, window.viewWidth, window.viewHeight));
  QImage image(window.width, window.height, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return false;
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(-window.offsetX, -window.offsetY);
    const QRectF target(0, 0, window.targetWidth, window.targetHeight);
    // Whatever the picture draws outside its frame stays outside.
    painter.setClipRect(target);
    renderer.render(&painter, target);
  }
  CopyStraight(image, raster);
  return true;
}

}  // namespace quorvex::platform
