#include "picture/readers/tiff_jpeg_decoder.h"

// jpeglib.h needs size_t and FILE declared first.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
// After jpeglib.h: the message codes.
#include <jerror.h>

#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/jpeg_guard.h"
#include "picture/jpeg_limits.h"

namespace quorvex {

namespace {

// A strip that ends early makes libjpeg warn and invent an end marker; the
// rows it would then make up are grey filler, so the strip fails instead.
// Other warnings (corrupt data libjpeg works around) pass silently.
void EmitMessage(j_common_ptr cinfo, int level) {
  auto* errors = reinterpret_cast<TJPEGErrorManager*>(cinfo->err);
  if (level < 0 && errors->pub.msg_code == JWRN_JPEG_EOF) {
    errors->endOfInput = true;
    std::longjmp(errors->jump, 1);
  }
}

const char* MessageFor(int code) {
  switch (code) {
    case JERR_BAD_PRECISION:
      return kJPEGImproperPrecision;
    case JERR_BAD_SAMPLING:
      return kJPEGImproperSampling;
    case JERR_COMPONENT_COUNT:
    case JERR_BAD_COMPONENT_ID:
      return kJPEGImproperComponentCount;
    case JERR_INPUT_EOF:
    case JERR_INPUT_EMPTY:
      return kJPEGUnexpectedEnd;
    default:
      return nullptr;
  }
}

}  // namespace

struct TTIFFJPEGDecoder::TState {
  jpeg_decompress_struct cinfo;
  TJPEGErrorManager errors;
  TJPEGScanLimit scanLimit;
  bool created = false;
  std::vector<uint8_t> tables;
  uint32_t width = 0;
  int samples = 0;
  ColorScheme scheme = ColorScheme::UndefinedScheme;
  // What a guarded step works on.
  const uint8_t* source = nullptr;
  size_t sourceSize = 0;
  uint8_t* target = nullptr;
  size_t rowBytes = 0;
  uint32_t rows = 0;
  int headerResult = 0;

  using Step = void (*)(TState& s);

  // Runs a step; a libjpeg failure in it leaves the decompressor ready for
  // the next strip and raises EJPEG (`failure` in place of libjpeg's
  // message when given).
  void Guard(Step step, const char* failure = nullptr) {
    if (Run(step)) return;
    const int code = errors.pub.msg_code;
    const bool endOfInput = errors.endOfInput;
    errors.endOfInput = false;
    const bool tooManyScans = scanLimit.exceeded;
    scanLimit.exceeded = false;
    jpeg_abort_decompress(&cinfo);
    if (tooManyScans) throw EJPEG(kJPEGTooManyScans);
    if (failure) throw EJPEG(failure);
    if (endOfInput) throw EJPEG(kJPEGUnexpectedEnd);
    if (const char* message = MessageFor(code)) throw EJPEG(message);
    throw EJPEG(errors.message);
  }
  // The steps of one strip, each raising EJPEG on failure.
  void ReadTables();
  void ReadStripHeader();
  void ChooseColorSpaces();
  void ReadRows();

  // A failure found outside libjpeg, after a header was read.
  [[noreturn]] void Fail(const char* message) {
    jpeg_abort_decompress(&cinfo);
    throw EJPEG(message);
  }

 private:
  bool Run(Step step) { return RunJPEGGuarded(errors, step, *this); }
};

TTIFFJPEGDecoder::TTIFFJPEGDecoder(std::vector<uint8_t> tables, uint32_t width, int samplesPerPixel,
                                   ColorScheme scheme)
    : state_(std::make_unique<TState>()) {
  TState& s = *state_;
  std::memset(&s.cinfo, 0, sizeof s.cinfo);
  s.cinfo.err = UseJPEGErrorManager(s.errors);
  s.errors.pub.emit_message = EmitMessage;
  s.tables = std::move(tables);
  s.width = width;
  s.samples = samplesPerPixel;
  s.scheme = scheme;
  const auto create = [](TState& st) {
    jpeg_create_decompress(&st.cinfo);
    st.created = true;
    UseJPEGScanLimit(st.cinfo, st.scanLimit);
  };
  if (!RunJPEGGuarded(s.errors, create, s)) {
    throw EJPEG(s.errors.message);
  }
}

TTIFFJPEGDecoder::~TTIFFJPEGDecoder() {
  if (state_->created) jpeg_destroy_decompress(&state_->cinfo);
}

size_t TTIFFJPEGDecoder::DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                                     size_t targetSize) {
  TState& s = *state_;
  s.rowBytes = size_t{s.width} * static_cast<size_t>(s.samples);
  if (s.rowBytes == 0 || sourceSize == 0) return 0;
  s.rows = static_cast<uint32_t>(std::min<size_t>(targetSize / s.rowBytes, UINT32_MAX));
  if (s.rows == 0) return 0;
  s.target = target;
  s.source = source;
  s.sourceSize = sourceSize;
  if (!s.tables.empty()) s.ReadTables();
  s.ReadStripHeader();
  s.ChooseColorSpaces();
  s.ReadRows();
  const size_t produced = size_t{s.rows} * s.rowBytes;
  // The rest of the strip is not needed; the next one starts afresh.
  jpeg_abort_decompress(&s.cinfo);
  return produced;
}

void TTIFFJPEGDecoder::TState::ReadTables() {
  Guard(
      [](TState& st) {
        jpeg_mem_src(&st.cinfo, st.tables.data(), static_cast<unsigned long>(st.tables.size()));
        st.headerResult = jpeg_read_header(&st.cinfo, FALSE);
      },
      kJPEGBogusTables);
  if (headerResult != JPEG_HEADER_TABLES_ONLY) Fail(kJPEGBogusTables);
}

void TTIFFJPEGDecoder::TState::ReadStripHeader() {
  Guard([](TState& st) {
    jpeg_mem_src(&st.cinfo, st.source, static_cast<unsigned long>(st.sourceSize));
    jpeg_read_header(&st.cinfo, TRUE);
  });
  const jpeg_decompress_struct& c = cinfo;
  if (c.data_precision != 8) Fail(kJPEGImproperPrecision);
  if (c.num_components != samples) Fail(kJPEGImproperComponentCount);
  if (c.image_width != width) Fail(kJPEGImproperStripSize);
  for (int i = 0; i < c.num_components; ++i) {
    const jpeg_component_info& component = c.comp_info[i];
    if (component.h_samp_factor < 1 || component.h_samp_factor > 4 || component.v_samp_factor < 1 ||
        component.v_samp_factor > 4) {
      Fail(kJPEGImproperSampling);
    }
  }
}

void TTIFFJPEGDecoder::TState::ChooseColorSpaces() {
  jpeg_decompress_struct& c = cinfo;
  // The photometric scheme, not markers in the data, says what the samples
  // are.
  switch (samples) {
    case 1:
      c.jpeg_color_space = JCS_GRAYSCALE;
      c.out_color_space = JCS_GRAYSCALE;
      break;
    case 3:
      c.jpeg_color_space = scheme == ColorScheme::YCbCr ? JCS_YCbCr : JCS_RGB;
      c.out_color_space = JCS_EXT_BGR;
      break;
    case 4:
      if (c.jpeg_color_space != JCS_YCCK) c.jpeg_color_space = JCS_CMYK;
      c.out_color_space = JCS_CMYK;
      break;
    default:
      Fail(kJPEGImproperComponentCount);
  }
  // Progressive data holds the whole strip's coefficients: bounded by what
  // the strip can hold, with room for libjpeg's own tables.
  c.mem->max_memory_to_use = static_cast<long>(std::min<uint64_t>(
      kMaxStorageBytes, (uint64_t{16} << 20) + uint64_t{8} * c.image_height * rowBytes));
}

void TTIFFJPEGDecoder::TState::ReadRows() {
  Guard([](TState& st) {
    jpeg_start_decompress(&st.cinfo);
    const JDIMENSION lines = std::min<JDIMENSION>(st.cinfo.output_height, st.rows);
    while (st.cinfo.output_scanline < lines) {
      JSAMPROW row = st.target + size_t{st.cinfo.output_scanline} * st.rowBytes;
      if (jpeg_read_scanlines(&st.cinfo, &row, 1) != 1) break;
    }
    st.rows = st.cinfo.output_scanline;
  });
}

}  // namespace quorvex
