// Prints the README's table of keys and mouse actions, to paste between its key-table marks:
//   readme_keys > table.md
#include <cstdio>

#include "tests/readme/keytable_markdown.h"

int main() {
    std::fputs(vt::readme::KeyTableMarkdown().toUtf8().constData(), stdout);
    return 0;
}
