#include "picture/platform/qt_raster.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <QTextItem>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <mutex>

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
// Parallel loads wait for the one that makes it: the instance is visible
// before its construction has finished.
bool EnsureGuiApplication() {
  static std::mutex making;
  const std::lock_guard<std::mutex> guard(making);
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

// ---- keeping the document to itself ------------------------------------------

bool IsLink(QStringView qualifiedName) {
  return qualifiedName == u"href" || qualifiedName.endsWith(u":href");
}

// An inline picture of a raster format, as Qt would decode it: the bytes
// after the only "base64," must be base64 and start with the format's
// signature, so that no other image reader (an SVG one among them) takes
// them. Returns its pixel count, or nullopt.
std::optional<uint64_t> InlinePicturePixels(QStringView link) {
  static const char* const kTypes[] = {"data:image/png;base64,", "data:image/jpeg;base64,",
                                       "data:image/jpg;base64,", "data:image/bmp;base64,",
                                       "data:image/gif;base64,"};
  qsizetype start = -1;
  for (const char* type : kTypes) {
    if (link.startsWith(QLatin1String(type), Qt::CaseInsensitive)) {
      start = static_cast<qsizetype>(std::strlen(type));
    }
  }
  if (start < 0) return std::nullopt;
  const QStringView payload = link.mid(start);
  for (QChar c : payload) {
    const char16_t u = c.unicode();
    const bool base64 = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
                        (u >= '0' && u <= '9') || u == '+' || u == '/' || u == '=' || u == ' ' ||
                        u == '\n' || u == '\r' || u == '\t';
    if (!base64) return std::nullopt;
  }
  const QByteArray bytes = QByteArray::fromBase64(payload.toLatin1());
  const bool raster = bytes.startsWith("\x89PNG\r\n\x1a\n") || bytes.startsWith("\xFF\xD8\xFF") ||
                      bytes.startsWith("BM") || bytes.startsWith("GIF8");
  if (!raster) return std::nullopt;
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  const QSize size = QImageReader(&buffer).size();
  if (!size.isValid()) return std::nullopt;
  return static_cast<uint64_t>(size.width()) * static_cast<uint64_t>(size.height());
}

// url(...) in a presentation attribute may only name something of the
// document itself.
bool NamesOnlyFragments(QStringView value) {
  qsizetype at = 0;
  while ((at = value.indexOf(u"url(", at, Qt::CaseInsensitive)) >= 0) {
    at += 4;
    while (at < value.size() && (value[at] == u' ' || value[at] == u'\'' || value[at] == u'"')) {
      ++at;
    }
    if (at >= value.size() || value[at] != u'#') return false;
  }
  return true;
}

// ---- painting within a budget -------------------------------------------------

// Rows a shape's outline is walked once for: the rasterizer's bands are a
// few dozen rows, and fewer where rows hold many cells.
constexpr double kRowsPerBand = 16;
// Cells of outline a band holds before the rasterizer splits it: a long
// outline is walked once for every such share of it.
constexpr double kCellsPerBand = 512;

// Passes every drawing on to a painter over the real image, once it has
// been charged to the budget; when the budget runs out the rest of the
// picture is skipped.
class BudgetEngine final : public QPaintEngine {
 public:
  BudgetEngine(QImage& image, const QRect& reach, WorkBudget& budget)
      : QPaintEngine(QPaintEngine::AllFeatures), image_(image), reach_(reach), budget_(budget) {}

  bool begin(QPaintDevice*) override {
    if (!inner_.begin(&image_)) return false;
    inner_.setClipRect(reach_);
    return true;
  }
  bool end() override { return inner_.end(); }
  Type type() const override { return QPaintEngine::User; }

  void updateState(const QPaintEngineState& state) override {
    const DirtyFlags dirty = state.state();
    if (dirty & DirtyTransform) {
      transform_ = state.transform();
      inner_.setTransform(transform_);
    }
    if (dirty & DirtyPen) {
      pen_ = state.pen();
      inner_.setPen(pen_);
    }
    if (dirty & DirtyBrush) {
      brush_ = state.brush();
      inner_.setBrush(brush_);
    }
    if (dirty & DirtyBrushOrigin) inner_.setBrushOrigin(state.brushOrigin());
    if (dirty & DirtyBackground) inner_.setBackground(state.backgroundBrush());
    if (dirty & DirtyBackgroundMode) inner_.setBackgroundMode(state.backgroundMode());
    if (dirty & DirtyFont) inner_.setFont(state.font());
    if (dirty & DirtyHints) {
      inner_.setRenderHints(~QPainter::RenderHints(), false);
      inner_.setRenderHints(state.renderHints(), true);
    }
    if (dirty & DirtyCompositionMode) inner_.setCompositionMode(state.compositionMode());
    if (dirty & DirtyOpacity) inner_.setOpacity(state.opacity());
    if (dirty & (DirtyClipEnabled | DirtyClipRegion | DirtyClipPath)) UpdateClip(state, dirty);
  }

  void drawPath(const QPainterPath& path) override {
    if (Afford(path.controlPointRect(), path.length(), true)) inner_.drawPath(path);
  }
  void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override {
    if (count <= 0) return;
    const QPolygonF polygon(QList<QPointF>(points, points + count));
    double length = 0;
    for (int i = 1; i < count; ++i) length += QLineF(points[i - 1], points[i]).length();
    const bool closed = mode != PolylineMode;
    if (!Afford(polygon.boundingRect(), length, closed)) return;
    if (closed) {
      inner_.drawPolygon(points, count, mode == WindingMode ? Qt::WindingFill : Qt::OddEvenFill);
    } else {
      inner_.drawPolyline(points, count);
    }
  }
  void drawPolygon(const QPoint* points, int count, PolygonDrawMode mode) override {
    QList<QPointF> real;
    real.reserve(count);
    for (int i = 0; i < count; ++i) real.append(QPointF(points[i]));
    drawPolygon(real.constData(), count, mode);
  }
  void drawRects(const QRectF* rects, int count) override {
    for (int i = 0; i < count; ++i) {
      const QRectF& r = rects[i];
      if (Afford(r, 2 * (std::abs(r.width()) + std::abs(r.height())), true)) inner_.drawRect(r);
    }
  }
  void drawRects(const QRect* rects, int count) override {
    for (int i = 0; i < count; ++i) {
      const QRectF r(rects[i]);
      drawRects(&r, 1);
    }
  }
  void drawEllipse(const QRectF& r) override {
    const double perimeter = M_PI * (std::abs(r.width()) + std::abs(r.height())) / 2;
    if (Afford(r, perimeter, true)) inner_.drawEllipse(r);
  }
  void drawEllipse(const QRect& r) override { drawEllipse(QRectF(r)); }
  void drawLines(const QLineF* lines, int count) override {
    for (int i = 0; i < count; ++i) {
      const QLineF& line = lines[i];
      if (Afford(QRectF(line.p1(), line.p2()).normalized(), line.length(), false)) {
        inner_.drawLine(line);
      }
    }
  }
  void drawLines(const QLine* lines, int count) override {
    for (int i = 0; i < count; ++i) {
      const QLineF line(lines[i]);
      drawLines(&line, 1);
    }
  }
  void drawPoints(const QPointF* points, int count) override {
    for (int i = 0; i < count; ++i) {
      if (Afford(QRectF(points[i], QSizeF(0, 0)), 1, false)) inner_.drawPoint(points[i]);
    }
  }
  void drawPoints(const QPoint* points, int count) override {
    for (int i = 0; i < count; ++i) {
      const QPointF point(points[i]);
      drawPoints(&point, 1);
    }
  }
  void drawPixmap(const QRectF& r, const QPixmap& pixmap, const QRectF& source) override {
    if (AffordArea(r)) inner_.drawPixmap(r, pixmap, source);
  }
  void drawTiledPixmap(const QRectF& r, const QPixmap& pixmap, const QPointF& offset) override {
    if (AffordArea(r)) inner_.drawTiledPixmap(r, pixmap, offset);
  }
  void drawImage(const QRectF& r, const QImage& image, const QRectF& source,
                 Qt::ImageConversionFlags flags) override {
    if (AffordArea(r)) inner_.drawImage(r, image, source, flags);
  }
  void drawTextItem(const QPointF& p, const QTextItem& item) override {
    const QRectF box(p.x(), p.y() - item.ascent(), item.width(), item.ascent() + item.descent());
    if (AffordArea(box)) inner_.drawTextItem(p, item);
  }

 private:
  // The reach always clips; a clip of the document's own comes on top.
  void UpdateClip(const QPaintEngineState& state, DirtyFlags dirty) {
    inner_.resetTransform();
    inner_.setClipRect(reach_);
    inner_.setTransform(transform_);
    if (!state.isClipEnabled() || state.clipOperation() == Qt::NoClip) return;
    if (dirty & DirtyClipPath) inner_.setClipPath(state.clipPath(), Qt::IntersectClip);
    if (dirty & DirtyClipRegion) inner_.setClipRegion(state.clipRegion(), Qt::IntersectClip);
  }

  // The most a length can grow on the device: where the picture is
  // stretched more one way, curves are flattened for that way.
  double Scale() const {
    const double a = transform_.m11() * transform_.m11() + transform_.m12() * transform_.m12() +
                     transform_.m21() * transform_.m21() + transform_.m22() * transform_.m22();
    const double det = transform_.determinant();
    return std::sqrt((a + std::sqrt(std::max(0.0, a * a - 4 * det * det))) / 2);
  }

  // Charges what the shape can cover: its box on the reach when filled,
  // its outline's length times the pen's width when stroked; and the
  // whole outline on the device, off the reach too, which the stroker and
  // the rasterizer walk all the same. The rasterizer works down the reach
  // in bands and walks the whole outline again for each, so a shape over
  // many rows costs those rows times its outline, however thin the picture,
  // and a long outline costs about its length squared.
  bool Afford(const QRectF& bounds, double outline, bool fillable) {
    const bool filled = fillable && brush_.style() != Qt::NoBrush;
    const bool stroked = pen_.style() != Qt::NoPen;
    const double width = pen_.isCosmetic() ? pen_.widthF() : pen_.widthF() * Scale();
    const double pen = stroked ? std::max(1.0, width) : 0.0;
    const QRectF box = transform_.mapRect(bounds).adjusted(-pen, -pen, pen, pen) & QRectF(reach_);
    const double area = box.isEmpty() ? 0 : box.width() * box.height();
    const double length = outline * Scale();
    double cost = 1 + length;
    if (filled) cost += area;
    if (stroked) cost += std::min(area, length * pen);
    // Hairlines are traced pixel by pixel; a wider stroke is rasterized as
    // an outline on both sides of the line.
    const int passes = (filled ? 1 : 0) + (stroked && width > 1 ? 2 : 0);
    if (!box.isEmpty()) {
      // Only cells on the reach are kept, and split the bands.
      const double walked = length + pen;
      const double kept = std::min(walked, area);
      cost += walked * (box.height() / kRowsPerBand + kept / kCellsPerBand) * passes;
    }
    return Charge(cost);
  }
  bool AffordArea(const QRectF& bounds) {
    const QRectF box = transform_.mapRect(bounds) & QRectF(reach_);
    return Charge(1 + (box.isEmpty() ? 0 : box.width() * box.height()));
  }
  bool Charge(double cost) {
    if (budget_.exhausted) return false;
    if (!(cost < static_cast<double>(budget_.pixels))) {
      budget_.exhausted = true;
      budget_.pixels = 0;
      return false;
    }
    budget_.pixels -= static_cast<uint64_t>(cost);
    return true;
  }

  QImage& image_;
  QRect reach_;
  WorkBudget& budget_;
  QPainter inner_;
  QTransform transform_;
  QPen pen_;
  QBrush brush_;
};

// The image, seen through the budget.
class BudgetDevice final : public QPaintDevice {
 public:
  BudgetDevice(QImage& image, const QRect& reach, WorkBudget& budget)
      : image_(image), engine_(image, reach, budget) {}
  ~BudgetDevice() override = default;
  QPaintEngine* paintEngine() const override { return &engine_; }

 protected:
  int metric(PaintDeviceMetric metric) const override {
    switch (metric) {
      case PdmWidth:
        return image_.width();
      case PdmHeight:
        return image_.height();
      case PdmWidthMM:
        return qRound(image_.width() * 25.4 / 96);
      case PdmHeightMM:
        return qRound(image_.height() * 25.4 / 96);
      case PdmNumColors:
        return 0;
      case PdmDepth:
        return 32;
      case PdmDpiX:
      case PdmDpiY:
      case PdmPhysicalDpiX:
      case PdmPhysicalDpiY:
        return 96;
      case PdmDevicePixelRatio:
        return 1;
      case PdmDevicePixelRatioScaled:
        return static_cast<int>(QPaintDevice::devicePixelRatioFScale());
      default:
        return QPaintDevice::metric(metric);
    }
  }

 private:
  QImage& image_;
  mutable BudgetEngine engine_;
};

// Renders the document's view into `target` (in the coordinates that
// `toDevice` maps onto the image), painting only inside `reach` (image
// pixels).
RenderOutcome Render(const std::string& svg, const SvgWindow& window, QImage& image,
                     const QTransform& toDevice, const QRectF& target, const QRect& reach,
                     WorkBudget& budget) {
  QSvgRenderer renderer(Document(svg));
  if (!renderer.isValid()) return RenderOutcome::Failed;
  renderer.setViewBox(QRectF(window.viewX, window.viewY, window.viewWidth, window.viewHeight));
  // Whatever the picture draws outside its frame stays outside.
  const QRect clip = reach & toDevice.mapRect(target).toAlignedRect();
  if (clip.isEmpty()) return RenderOutcome::Drawn;
  {
    BudgetDevice device(image, clip, budget);
    QPainter painter(&device);
    if (!painter.isActive()) return RenderOutcome::Failed;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setTransform(toDevice);
    renderer.render(&painter, target);
  }
  return budget.exhausted ? RenderOutcome::OverBudget : RenderOutcome::Drawn;
}

bool WindowIsValid(const SvgWindow& window) {
  return window.width > 0 && window.height > 0 && window.targetWidth > 0 &&
         window.targetHeight > 0 && window.viewWidth > 0 && window.viewHeight > 0;
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

std::optional<std::string> ContainedSvg(const std::string& svg, uint64_t maxPicturePixels) {
  QXmlStreamReader reader(QByteArray(svg.data(), static_cast<qsizetype>(svg.size())));
  // The metafile libraries use prefixes they never declare: names are
  // taken as written.
  reader.setNamespaceProcessing(false);
  QByteArray out;
  QXmlStreamWriter writer(&out);
  uint64_t picturePixels = 0;
  while (!reader.atEnd()) {
    switch (reader.readNext()) {
      case QXmlStreamReader::StartDocument:
        writer.writeStartDocument();
        break;
      case QXmlStreamReader::StartElement: {
        writer.writeStartElement(reader.qualifiedName().toString());
        for (const QXmlStreamAttribute& attribute : reader.attributes()) {
          const QStringView name = attribute.qualifiedName();
          const QStringView value = attribute.value();
          if (IsLink(name)) {
            const auto pixels = InlinePicturePixels(value);
            if (!pixels) continue;
            picturePixels += *pixels;
            if (picturePixels > maxPicturePixels) return std::nullopt;
          } else if (!NamesOnlyFragments(value)) {
            continue;
          }
          writer.writeAttribute(name.toString(), value.toString());
        }
        break;
      }
      case QXmlStreamReader::EndElement:
        writer.writeEndElement();
        break;
      case QXmlStreamReader::Characters:
        writer.writeCharacters(reader.text().toString());
        break;
      default:
        // Declarations, entity references, processing instructions and
        // comments: none of them draws, some of them reach out.
        break;
    }
  }
  if (reader.hasError()) return std::nullopt;
  writer.writeEndDocument();
  return std::string(out.constData(), static_cast<size_t>(out.size()));
}

bool SvgIsValid(const std::string& svg) {
  const QSvgRenderer renderer(Document(svg));
  return renderer.isValid();
}

RenderOutcome RenderSvg(const std::string& svg, const SvgWindow& window, WorkBudget& budget,
                        Raster& raster) {
  if (!WindowIsValid(window)) return RenderOutcome::Failed;
  QImage image(window.width, window.height, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return RenderOutcome::Failed;
  image.fill(Qt::transparent);
  const QRectF target(-window.offsetX, -window.offsetY, window.targetWidth, window.targetHeight);
  const RenderOutcome outcome =
      Render(svg, window, image, QTransform(), target, image.rect(), budget);
  if (outcome == RenderOutcome::Drawn) CopyStraight(image, raster);
  return outcome;
}

RenderOutcome PaintSvg(const std::string& svg, const SvgWindow& window, WorkBudget& budget,
                       const Bgr24Rows& rows, int32_t atX, int32_t atY) {
  if (!WindowIsValid(window) || rows.top == nullptr || rows.width <= 0 || rows.height <= 0) {
    return RenderOutcome::Failed;
  }
  const bool bottomUp = rows.rowStep < 0;
  const qsizetype bytesPerLine = bottomUp ? -rows.rowStep : rows.rowStep;
  uint8_t* first = bottomUp ? rows.top + rows.rowStep * (rows.height - 1) : rows.top;
  QImage image(first, rows.width, rows.height, bytesPerLine, QImage::Format_BGR888);
  if (image.isNull()) return RenderOutcome::Failed;
  // Image rows run the other way in storage kept bottom-up.
  const QTransform toDevice = bottomUp ? QTransform(1, 0, 0, -1, 0, rows.height) : QTransform();
  const QRectF target(atX - window.offsetX, atY - window.offsetY, window.targetWidth,
                      window.targetHeight);
  const QRect reach =
      toDevice.mapRect(QRectF(atX, atY, window.width, window.height)).toAlignedRect() &
      image.rect();
  return Render(svg, window, image, toDevice, target, reach, budget);
}

}  // namespace quorvex::platform
