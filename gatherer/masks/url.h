// Resolution of relative addresses (href/src) against a page address.
#pragma once

#include <string>
#include <string_view>

namespace orvo {

// The absolute form of reference against base, as a browser reports an
// element's href: surrounding white space and embedded tabs/line feeds are
// dropped, dot segments removed. An empty base leaves reference as it is
// (trimmed); a reference with its own scheme is kept.
std::string ResolveUrl(std::string_view base, std::string_view reference);

}  // namespace orvo
