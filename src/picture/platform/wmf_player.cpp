// The only unit that sees the metafile library's headers: their macros clash
// with other headers, Qt's among them.
#include "picture/platform/wmf_player.h"

#include <libwmf/api.h>
#include <libwmf/defs.h>
#include <libwmf/ipa.h>
#include <libwmf/svg.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace quorvex::platform {

namespace {

constexpr unsigned long kOptions =
    WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;

// The device layer fills nothing for a box whose corners come bottom-up,
// which is how every box of a picture with its y axis upwards (a negative
// window extent) arrives. Boxes are put the right way round before the
// device layer sees them; an ellipse or arc is the same in either.
void Normalize(wmfD_Coord& topLeft, wmfD_Coord& bottomRight) {
  if (topLeft.x > bottomRight.x) std::swap(topLeft.x, bottomRight.x);
  if (topLeft.y > bottomRight.y) std::swap(topLeft.y, bottomRight.y);
}

const wmfFunctionReference& DeviceLayer(wmfAPI* api) {
  return *static_cast<const wmfFunctionReference*>(api->user_data);
}

// The SVG layer makes every fill half transparent under the transparent
// background mode. That mode only concerns the gaps of hatches and styled
// pens and the background of text; a solid brush covers all the same.
class SolidFill {
 public:
  explicit SolidFill(wmfDC* dc) : dc_(dc) {
    if (dc_ && dc_->brush && dc_->brush->lbStyle == BS_SOLID && dc_->bgmode != OPAQUE) {
      saved_ = dc_->bgmode;
      dc_->bgmode = OPAQUE;
      changed_ = true;
    }
  }
  ~SolidFill() {
    if (changed_) dc_->bgmode = saved_;
  }
  SolidFill(const SolidFill&) = delete;
  SolidFill& operator=(const SolidFill&) = delete;

 private:
  wmfDC* dc_;
  U16 saved_ = 0;
  bool changed_ = false;
};

template <void (*wmfFunctionReference::*slot)(wmfAPI*, wmfDrawArc_t*)>
void ArcHook(wmfAPI* api, wmfDrawArc_t* arc) {
  Normalize(arc->TL, arc->BR);
  const SolidFill fill(arc->dc);
  (DeviceLayer(api).*slot)(api, arc);
}

void RectangleHook(wmfAPI* api, wmfDrawRectangle_t* rectangle) {
  Normalize(rectangle->TL, rectangle->BR);
  const SolidFill fill(rectangle->dc);
  DeviceLayer(api).draw_rectangle(api, rectangle);
}

template <void (*wmfFunctionReference::*slot)(wmfAPI*, wmfPolyLine_t*)>
void PolygonHook(wmfAPI* api, wmfPolyLine_t* polygon) {
  const SolidFill fill(polygon->dc);
  (DeviceLayer(api).*slot)(api, polygon);
}

void PolyPolygonHook(wmfAPI* api, wmfPolyPoly_t* polygons) {
  const SolidFill fill(polygons->dc);
  DeviceLayer(api).draw_polypolygon(api, polygons);
}

void RopHook(wmfAPI* api, wmfROP_Draw_t* rop) {
  Normalize(rop->TL, rop->BR);
  DeviceLayer(api).rop_draw(api, rop);
}

template <void (*wmfFunctionReference::*slot)(wmfAPI*, wmfPolyRectangle_t*)>
void RegionHook(wmfAPI* api, wmfPolyRectangle_t* region) {
  for (unsigned int i = 0; i < region->count; ++i) Normalize(region->TL[i], region->BR[i]);
  const SolidFill fill(region->dc);
  (DeviceLayer(api).*slot)(api, region);
}

void InstallHooks(wmfAPI* api, wmfFunctionReference& original) {
  auto* table = static_cast<wmfFunctionReference*>(api->function_reference);
  if (!table) return;
  original = *table;
  api->user_data = &original;
  if (table->draw_pie) table->draw_pie = ArcHook<&wmfFunctionReference::draw_pie>;
  if (table->draw_chord) table->draw_chord = ArcHook<&wmfFunctionReference::draw_chord>;
  if (table->draw_arc) table->draw_arc = ArcHook<&wmfFunctionReference::draw_arc>;
  if (table->draw_ellipse) table->draw_ellipse = ArcHook<&wmfFunctionReference::draw_ellipse>;
  if (table->draw_rectangle) table->draw_rectangle = RectangleHook;
  if (table->draw_polygon) table->draw_polygon = PolygonHook<&wmfFunctionReference::draw_polygon>;
  if (table->draw_polypolygon) table->draw_polypolygon = PolyPolygonHook;
  if (table->rop_draw) table->rop_draw = RopHook;
  if (table->region_frame) table->region_frame = RegionHook<&wmfFunctionReference::region_frame>;
  if (table->region_paint) table->region_paint = RegionHook<&wmfFunctionReference::region_paint>;
  if (table->region_clip) table->region_clip = RegionHook<&wmfFunctionReference::region_clip>;
}

// One library session over an in-memory metafile, closed on every path.
class Session {
 public:
  explicit Session(const std::vector<uint8_t>& metafile) : bytes_(metafile) {
    wmfAPI_Options options;
    std::memset(&options, 0, sizeof options);
    options.function = wmf_svg_function;
    if (wmf_api_create(&api_, kOptions, &options) != wmf_E_None) {
      // A failed create may still have allocated the handle.
      if (api_) wmf_api_destroy(api_);
      api_ = nullptr;
      return;
    }
    InstallHooks(api_, deviceLayer_);
    if (bytes_.empty() ||
        wmf_mem_open(api_, bytes_.data(), static_cast<long>(bytes_.size())) != wmf_E_None) {
      Close();
      return;
    }
    opened_ = true;
  }
  ~Session() { Close(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  wmfAPI* Api() const { return opened_ ? api_ : nullptr; }

 private:
  void Close() {
    if (!api_) return;
    if (opened_) wmf_mem_close(api_);
    wmf_api_destroy(api_);
    api_ = nullptr;
    opened_ = false;
  }

  std::vector<uint8_t> bytes_;  // the library reads from this copy
  wmfFunctionReference deviceLayer_{};
  wmfAPI* api_ = nullptr;
  bool opened_ = false;
};

}  // namespace

std::optional<DeviceRect> ScanWmf(const std::vector<uint8_t>& metafile) {
  Session session(metafile);
  if (!session.Api()) return std::nullopt;
  wmfD_Rect box;
  if (wmf_scan(session.Api(), 0, &box) != wmf_E_None) return std::nullopt;
  const DeviceRect rect{std::min(box.TL.x, box.BR.x), std::min(box.TL.y, box.BR.y),
                        std::max(box.TL.x, box.BR.x), std::max(box.TL.y, box.BR.y)};
  return rect;
}

std::optional<std::string> ConvertWmfToSvg(
    const std::vector<uint8_t>& metafile,
    const std::function<std::optional<SvgLayout>(const DeviceRect& drawn)>& layout) {
  Session session(metafile);
  wmfAPI* api = session.Api();
  if (!api) return std::nullopt;
  // The player needs its scan before it can play.
  wmfD_Rect box;
  if (wmf_scan(api, 0, &box) != wmf_E_None) return std::nullopt;
  const auto chosen = layout({std::min(box.TL.x, box.BR.x), std::min(box.TL.y, box.BR.y),
                              std::max(box.TL.x, box.BR.x), std::max(box.TL.y, box.BR.y)});
  if (!chosen || chosen->width == 0 || chosen->height == 0 ||
      !(chosen->area.right > chosen->area.left) || !(chosen->area.bottom > chosen->area.top)) {
    return std::nullopt;
  }
  wmf_svg_t* device = WMF_SVG_GetData(api);
  device->bbox.TL.x = static_cast<float>(chosen->area.left);
  device->bbox.TL.y = static_cast<float>(chosen->area.top);
  device->bbox.BR.x = static_cast<float>(chosen->area.right);
  device->bbox.BR.y = static_cast<float>(chosen->area.bottom);
  device->width = chosen->width;
  device->height = chosen->height;
  // Pictures inside the metafile go into the document, not into files.
  device->flags |= WMF_SVG_INLINE_IMAGES;
  device->out = wmf_stream_create(api, nullptr);
  if (!device->out) return std::nullopt;
  // The rectangle wmf_play fills in is the drawing's extent, not an input.
  wmfD_Rect drawn;
  const wmf_error_t played = wmf_play(api, 0, &drawn);
  char* text = nullptr;
  unsigned long length = 0;
  wmf_stream_destroy(api, device->out, &text, &length);
  device->out = nullptr;
  if (played != wmf_E_None || !text || length == 0) return std::nullopt;
  // The library frees the text with the session.
  return std::string(text, length);
}

}  // namespace quorvex::platform
