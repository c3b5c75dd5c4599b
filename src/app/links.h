#pragma once

namespace quorvex {

// The maker's web pages.
inline constexpr const char* kHomePageAddress = "www.quorvex.example.org";
inline constexpr const char* kHomePageUrl = "https://www.quorvex.example.org/";
inline constexpr const char* kSupportUrl = "https://www.quorvex.example.org/support/";

// Files expected in the program's folder.
inline constexpr const char* kHelpFileName = "quorvexhelp.html";
inline constexpr const char* kViewerName = "Vuelet";

}  // namespace quorvex
