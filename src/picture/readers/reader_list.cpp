#include "picture/readers/reader_list.h"

#include <array>

#include "picture/readers/autodesk_reader.h"
#include "picture/readers/cut_reader.h"
#include "picture/readers/eps_reader.h"
#include "picture/readers/gif_reader.h"
#include "picture/readers/heif_reader.h"
#include "picture/readers/jpeg2000_reader.h"
#include "picture/readers/jxl_reader.h"
#include "picture/readers/pcd_reader.h"
#include "picture/readers/pcx_reader.h"
#include "picture/readers/png_reader.h"
#include "picture/readers/ppm_reader.h"
#include "picture/readers/psd_reader.h"
#include "picture/readers/psp_reader.h"
#include "picture/readers/rla_reader.h"
#include "picture/readers/sgi_reader.h"
#include "picture/readers/targa_reader.h"
#include "picture/readers/tiff_reader.h"
#include "picture/readers/webp_reader.h"

namespace quorvex {

namespace {

// A reader's registration adds its rows (extensions, descriptions, class) to
// the registry. Each reader stands by its first row of the registration
// table, so that the rows keep the table's relative order.
using TReaderRegistration = void (*)(TFileFormatList& list);

constexpr std::array kRegistrations = std::to_array<TReaderRegistration>({
    RegisterTargaFormats,
    RegisterTIFFFormats,
    RegisterEPSFormats,
    RegisterPCXFormats,
    RegisterRLAFormats,
    RegisterSGIFormats,
    RegisterPSDFormats,
    RegisterPPMFormats,
    RegisterAutodeskFormats,
    RegisterPCDFormats,
    RegisterCUTFormats,
    RegisterPSPFormats,
    RegisterPNGFormats,
    RegisterGIFFormats,
    RegisterWebPFormats,
    RegisterHEIFFormats,
    RegisterJPEG2000Formats,
    RegisterJXLFormats,
});

}  // namespace

void RegisterReaderFormats(TFileFormatList& list) {
  for (const TReaderRegistration registration : kRegistrations) registration(list);
}

}  // namespace quorvex
