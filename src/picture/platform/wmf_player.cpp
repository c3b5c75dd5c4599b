// The only unit that sees the metafile library's headers: their macros clash
// with other headers, Qt's among them.
#include "picture/platform/wmf_player.h"

#include <libwmf/api.h>
#include <libwmf/defs.h>
#include <libwmf/ipa.h>
#include <libwmf/svg.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
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

// What the hooks keep for one library session.
struct HookState {
  wmfFunctionReference deviceLayer{};
  size_t lineCapacity = 0;  // how long a line the library's printing takes
};

HookState& Hooks(wmfAPI* api) {
  return *static_cast<HookState*>(api->user_data);
}

const wmfFunctionReference& DeviceLayer(wmfAPI* api) {
  return Hooks(api).deviceLayer;
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

// The device layer copies text into the document as it comes. Text is
// bytes of the Windows code page; the document gets characters, with
// markup characters escaped and bytes that XML cannot carry left out.
std::string EscapedText(const char* text) {
  // Windows-1252 for the bytes that Latin-1 leaves to control characters.
  static const char16_t kHigh[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    const unsigned char c = *p;
    switch (c) {
      case '&':
        out += "&amp;";
        continue;
      case '<':
        out += "&lt;";
        continue;
      case '>':
        out += "&gt;";
        continue;
      case '"':
        out += "&quot;";
        continue;
      case '\'':
        out += "&apos;";
        continue;
      default:
        break;
    }
    if (c < 0x20) {
      if (c == '\t') out += ' ';
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      const char16_t code = c < 0xA0 ? kHigh[c - 0x80] : c;
      if (code != 0) out += "&#" + std::to_string(code) + ";";
    }
  }
  return out;
}

// The library's printing reuses its arguments after growing its line
// buffer, which garbles (or crashes on) the first line that outgrows it;
// a line of text can. A line as long, printed where it does no harm and
// with no arguments to reuse, grows the buffer beforehand. The buffer
// grows in small steps, each a whole new attempt: text is cut to a length
// that keeps this quick, far wider than any picture.
constexpr size_t kLongestText = 16384;
constexpr size_t kRestOfTextLine = 1024;

void MakeRoomForLine(wmfAPI* api, size_t length) {
  HookState& state = Hooks(api);
  if (length <= state.lineCapacity) return;
  wmfStream* scratch = wmf_stream_create(api, nullptr);
  if (!scratch) return;
  std::string line(length, 'x');
  wmf_stream_printf(api, scratch, line.data());
  char* text = nullptr;
  unsigned long size = 0;
  wmf_stream_destroy(api, scratch, &text, &size);
  state.lineCapacity = length;
}

// Cuts escaped text to at most `limit` bytes, between characters.
void CutText(std::string& text, size_t limit) {
  if (text.size() <= limit) return;
  size_t cut = limit;
  const size_t entity = text.rfind('&', cut);
  if (entity != std::string::npos && text.find(';', entity) >= cut) cut = entity;
  text.resize(cut);
}

void TextHook(wmfAPI* api, wmfDrawText_t* text) {
  if (!text->str) return DeviceLayer(api).draw_text(api, text);
  std::string escaped = EscapedText(text->str);
  CutText(escaped, kLongestText);
  MakeRoomForLine(api, escaped.size() + kRestOfTextLine);
  char* const original = text->str;
  text->str = escaped.data();
  DeviceLayer(api).draw_text(api, text);
  text->str = original;
}

void InstallHooks(wmfAPI* api, HookState& state) {
  auto* table = static_cast<wmfFunctionReference*>(api->function_reference);
  if (!table) return;
  state.deviceLayer = *table;
  api->user_data = &state;
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
  if (table->draw_text) table->draw_text = TextHook;
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
    InstallHooks(api_, hooks_);
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
  HookState hooks_;
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

std::optional<std::string> WmfLibraryProblem() {
  // The smallest metafile there is: a header and the end record.
  const std::vector<uint8_t> empty = {1, 0, 9, 0, 0, 3, 12, 0, 0, 0, 0, 0,
                                      3, 0, 0, 0, 0, 0, 3,  0, 0, 0, 0, 0};
  if (ScanWmf(empty)) return std::nullopt;
  // The library sets up its fonts before it reads any record, and fails
  // every file without them.
  constexpr const char* kFontDirectory = "/usr/share/fonts/type1/urw-base35";
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::path(kFontDirectory) / "NimbusRoman-Regular.t1",
                               error)) {
    return std::string(
               "Windows metafiles cannot be drawn: the fonts of the WMF library are "
               "missing (") +
           kFontDirectory + ", package fonts-urw-base35)";
  }
  return std::string("Windows metafiles cannot be drawn: the WMF library does not start");
}

}  // namespace quorvex::platform
