#pragma once
// The README's table of keys and mouse actions, made from the window's key table so that the two
// cannot drift apart. readme_keys prints it; the README test looks for it letter for letter.
#include <QString>

namespace vt::readme {

// The whole table in Markdown, header included, one row per line, ending in a newline.
QString KeyTableMarkdown();

}  // namespace vt::readme
