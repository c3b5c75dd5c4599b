#pragma once

namespace quorvex {

// The project's web pages, set when the project is configured.
inline constexpr const char* kHomePageAddress = QUORVEX_HOME_ADDRESS;
inline constexpr const char* kHomePageUrl = QUORVEX_HOME_PAGE;
inline constexpr const char* kSupportUrl = QUORVEX_SUPPORT_PAGE;

// Files expected in the program's folder.
inline constexpr const char* kHelpFileName = "quorvexhelp.html";
inline constexpr const char* kViewerName = "Vuelet";

}  // namespace quorvex
