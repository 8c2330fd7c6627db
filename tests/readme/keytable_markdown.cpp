#include "tests/readme/keytable_markdown.h"

#include "app/review/keys.h"

namespace vt::readme {
namespace {

// What the mouse does. The window's code handles these in its widgets, not through the key
// table, so they are listed here and follow the keys.
struct MouseRow {
    const char *what;
    const char *does;
};

constexpr MouseRow kMouseRows[] = {
    {"Click a recording in the list", "Play it"},
    {"Double click a recording", "Open it again from the start"},
    {"Click or drag on the position bar", "Go to that moment"},
    {"Buttons under the picture", "Back, play / pause, stop, forward, open a folder"},
    {"Buttons beside the volume bar", "Volume down, up; capture and print; camera settings"},
    {"Double click the picture", "Full screen on / off"},
    {"Ctrl+wheel on the picture", "Zoom in / out around the mouse"},
    {"Drag the zoomed picture", "Move it (unzoomed, a drag moves the window)"},
    {"Drag the window's background", "Move the window"},
    {"Right click the window's background",
     "Menu: Minimize, Close, Trip and map, Export clip..., Incident report..., Find events..., "
     "Repair a cut-off recording..., Keys, About"},
    {"Drop a folder onto the window", "List its recordings"},
    {"Trip and map: click the track or the strip", "Go to that moment of the trip"},
    {"Trip and map: drag, wheel", "Move the map, zoom it"},
};

QString Cell(const char *text) {
    QString s = QString::fromLatin1(text);
    s.replace(QLatin1Char('|'), QLatin1String("\\|"));
    return s;
}

}  // namespace

QString KeyTableMarkdown() {
    QString md = QStringLiteral("| Key or mouse | What it does |\n|---|---|\n");
    for (const app::review::KeyBinding &b : app::review::KeyTable())
        md += QStringLiteral("| `%1` | %2 |\n").arg(QString::fromLatin1(b.key_text), Cell(b.help));
    for (const MouseRow &m : kMouseRows)
        md += QStringLiteral("| %1 | %2 |\n").arg(Cell(m.what), Cell(m.does));
    return md;
}

}  // namespace vt::readme
