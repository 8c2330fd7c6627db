#include "app/review/keys.h"

namespace vt::app::review {
namespace {

constexpr Qt::KeyboardModifiers kNoMods = Qt::NoModifier;

}  // namespace

const QList<KeyBinding> &KeyTable() {
    static const QList<KeyBinding> table = {
        {Qt::Key_Space, kNoMods, Action::kPlayPause, "Space", "Play / pause", false},
        {Qt::Key_Backspace, kNoMods, Action::kStop, "Backspace", "Stop (back to the start, paused)",
         false},
        {Qt::Key_Left, kNoMods, Action::kRewind, "Left", "Back 2 seconds", false},
        {Qt::Key_Right, kNoMods, Action::kForward, "Right", "Forward 2 seconds", false},
        {Qt::Key_Up, kNoMods, Action::kVolumeUp, "Up", "Volume up", false},
        {Qt::Key_Down, kNoMods, Action::kVolumeDown, "Down", "Volume down", false},
        {Qt::Key_F2, kNoMods, Action::kOpenFolder, "F2", "Open a folder", false},
        {Qt::Key_O, Qt::ControlModifier, Action::kOpenFolder, "Ctrl+O", "Open a folder", false},
        {Qt::Key_N, Qt::ControlModifier, Action::kNextRecording, "Ctrl+N", "Next recording", false},
        {Qt::Key_B, Qt::ControlModifier, Action::kPreviousRecording, "Ctrl+B", "Previous recording",
         false},
        {Qt::Key_Period, kNoMods, Action::kStepForward, ".", "One picture forward (pauses first)",
         true},
        {Qt::Key_Comma, kNoMods, Action::kStepBack, ",", "One picture back (pauses first)", true},
        {Qt::Key_BracketLeft, kNoMods, Action::kSpeedDown, "[",
         "Slower (25, 50, 100, 150, 200, 400 %)", false},
        {Qt::Key_BracketRight, kNoMods, Action::kSpeedUp, "]", "Faster", false},
        {Qt::Key_Equal, kNoMods, Action::kSpeedNormal, "=", "Normal speed", false},
        {Qt::Key_F, kNoMods, Action::kFullScreen, "F",
         "Full screen on / off (or double click the picture)", false},
        {Qt::Key_Plus, kNoMods, Action::kZoomIn, "+", "Zoom in (or Ctrl+wheel; drag to pan)", true},
        {Qt::Key_Minus, kNoMods, Action::kZoomOut, "-", "Zoom out", true},
        {Qt::Key_0, kNoMods, Action::kZoomReset, "0", "Whole picture again", false},
        {Qt::Key_N, kNoMods, Action::kNextEvent, "N", "Next event (2 s before it)", false},
        {Qt::Key_P, kNoMods, Action::kPreviousEvent, "P", "Previous event", false},
        {Qt::Key_M, kNoMods, Action::kMute, "M", "Sound off / on", false},
        {Qt::Key_S, kNoMods, Action::kSnapshot, "S", "Save the picture as PNG in Pictures", false},
        {Qt::Key_F1, kNoMods, Action::kKeyPanel, "F1", "This list of keys", false},
        {Qt::Key_Question, kNoMods, Action::kKeyPanel, "?", "This list of keys", false},
        {Qt::Key_M, Qt::ControlModifier, Action::kTripMap, "Ctrl+M", "Trip and map window", false},
        {Qt::Key_Escape, kNoMods, Action::kEscape, "Esc",
         "Leave full screen; else pause and minimise", false},
    };
    return table;
}

bool IsReviewAction(Action action) {
    return action >= Action::kStepForward && action <= Action::kKeyPanel;
}

bool ActsOnRepeat(Action action) {
    for (const KeyBinding &b : KeyTable())
        if (b.action == action) return b.repeats;
    return false;
}

Action ReviewActionOf(const QKeyEvent &key) {
    // Shift is part of how "+", "?" and the brackets are typed on many layouts, and the keypad's
    // plus and minus are the same keys.
    const Qt::KeyboardModifiers mods =
        key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    for (const KeyBinding &b : KeyTable()) {
        if (b.key != key.key() || b.modifiers != mods || !IsReviewAction(b.action)) continue;
        return b.action;
    }
    return Action::kNone;
}

QStringList KeyHelpLines() {
    QStringList lines;
    for (const KeyBinding &b : KeyTable())
        lines << QString::fromLatin1(b.key_text) + QLatin1Char('\t') + QString::fromLatin1(b.help);
    return lines;
}

}  // namespace vt::app::review
