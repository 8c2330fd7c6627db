#pragma once
// The window messages of the shell. Each is a Qt event whose type is the message's fixed number,
// carrying the two message words. Messages that engine threads "send" are posted as well: an engine
// thread never waits for the user-interface thread, which may itself be waiting for the engine.
#include <QEvent>
#include <cstdint>

namespace vt::app {

inline constexpr int kWmUser = 0x0400;

inline constexpr int UM_OPEN_FIRST = kWmUser + 2;
inline constexpr int UM_REOPEN_SELECTION = kWmUser + 3;
inline constexpr int UM_NEXT_RECORDING = kWmUser + 4;
inline constexpr int UM_PREV_RECORDING = kWmUser + 5;
inline constexpr int WM_PLAYER_OPENED = 0x2401;
inline constexpr int WM_PLAYER_STATUS = 0x2402;
inline constexpr int WM_PLAYER_HALTED = 0x2403;
inline constexpr int WM_SLIDER_MOVED = 0x28D1;
inline constexpr int WM_SLIDER_RELEASED = 0x28D2;

// Every number above lies inside Qt's user event range, so it is used as the event type itself.
static_assert(UM_OPEN_FIRST >= QEvent::User && WM_SLIDER_RELEASED <= QEvent::MaxUser);

class CWindowMessage final : public QEvent {
public:
    CWindowMessage(int message, uintptr_t wparam, intptr_t lparam)
        : QEvent(static_cast<QEvent::Type>(message)), m_wparam(wparam), m_lparam(lparam) {}
    int message() const { return static_cast<int>(type()); }
    uintptr_t wParam() const { return m_wparam; }
    intptr_t lParam() const { return m_lparam; }

private:
    uintptr_t m_wparam;
    intptr_t m_lparam;
};

// Posts a message to a receiver; safe from any thread.
void PostWindowMessage(QObject *receiver, int message, uintptr_t wparam, intptr_t lparam);
// Delivers a message at once on the calling (user-interface) thread.
void SendWindowMessage(QObject *receiver, int message, uintptr_t wparam, intptr_t lparam);

}  // namespace vt::app
