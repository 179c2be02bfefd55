// The fixed boundary token of the multipart bodies that the mail and the upload send.
#pragma once

#include <string_view>

namespace rvx {

inline constexpr std::string_view kMultipartBoundary = "RavexBugReport_multipart_boundary";
static_assert(kMultipartBoundary.size() == 33);

}  // namespace rvx
