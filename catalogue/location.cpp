// Where the catalogue file lives: the program's cache folder, as the window's other caches.
#include "catalogue/catalogue.h"

#ifdef VT_CATALOGUE_USERFILES
#include "app/userfiles/userfiles.h"
#else
#include <cstdlib>
#include <filesystem>
#endif

namespace vt::catalogue {

std::string DefaultFile() {
#ifdef VT_CATALOGUE_USERFILES
    return (userfiles::CacheDir() + QStringLiteral("/catalogue.sqlite"))
        .toLocal8Bit()
        .toStdString();
#else
    // Built without the window (and its per-user folders): the XDG cache folder alone.
    const char *xdg = std::getenv("XDG_CACHE_HOME");
    std::string base;
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char *home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.cache";
    }
    return base + "/vantrec-player/catalogue.sqlite";
#endif
}

}  // namespace vt::catalogue
