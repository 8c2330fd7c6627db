#pragma once
// Every key of the main window, declared once: what it is called, what it does and the line of
// help the key panel shows for it. The window dispatches the review actions from this table and
// keeps its classic keys where they always were; the table lists those too, so that the panel
// shows the whole keyboard.
#include <QKeyEvent>
#include <QList>
#include <QString>

namespace vt::app::review {

enum class Action {
    kNone,
    // Classic keys (handled by the window's own key code, listed for the panel).
    kPlayPause,
    kStop,
    kRewind,
    kForward,
    kVolumeUp,
    kVolumeDown,
    kOpenFolder,
    kNextRecording,
    kPreviousRecording,
    kTripMap,
    kEscape,
    // Review keys.
    kStepForward,
    kStepBack,
    kSpeedDown,
    kSpeedUp,
    kSpeedNormal,
    kFullScreen,
    kZoomIn,
    kZoomOut,
    kZoomReset,
    kNextEvent,
    kPreviousEvent,
    kMute,
    kSnapshot,
    kKeyPanel,
};

struct KeyBinding {
    int key;                          // Qt::Key
    Qt::KeyboardModifiers modifiers;  // Ctrl and Alt must match; Shift and keypad are ignored
    Action action;
    const char *key_text;  // as the panel shows it
    const char *help;
    bool repeats;  // whether a held key acts again on each auto-repeat
};

// The whole table, in the order the panel lists it.
const QList<KeyBinding> &KeyTable();

// The review action a key press asks for; kNone for classic keys and keys not in the table.
Action ReviewActionOf(const QKeyEvent &key);
bool IsReviewAction(Action action);
// Whether a held key repeats the action (steps and zoom do; toggles must not flicker).
bool ActsOnRepeat(Action action);

// "Key<TAB>help" lines of the table, for the panel and the README.
QStringList KeyHelpLines();

}  // namespace vt::app::review
