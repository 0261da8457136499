// The files the HTML report embeds, compiled in from report-assets/ by
// cmake/embedFiles.cmake: the pinned charting library and the page's own
// script and style.
#pragma once

#include <string_view>

namespace lumaqc::report::assets {

std::string_view uplotJs();
std::string_view uplotCss();
std::string_view reportJs();
std::string_view reportCss();

}  // namespace lumaqc::report::assets
