// Text inside the tools' XML and HTML outputs (the JUnit file, the batch
// report): escaped, valid UTF-8, and free of the control characters XML
// 1.0 forbids, whatever bytes a path holds.
#pragma once

#include <string>
#include <string_view>

#include "common/utf8.h"  // valid_utf8

namespace cli {

// s as XML character data or an attribute value: valid UTF-8, &, <, >, "
// and ' as entities, a line break or tab in an attribute as a character
// reference (so that it survives), and the other control characters, which
// XML 1.0 cannot hold, as U+FFFD.
std::string xml_text(std::string_view s);
std::string xml_attribute(std::string_view s);

// An SVG document to be placed inside an HTML page: without its XML
// declaration, and valid UTF-8.
std::string inline_svg(std::string_view svg);

}  // namespace cli
