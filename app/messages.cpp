#include "app/messages.h"

#include <QCoreApplication>

namespace vt::app {

void PostWindowMessage(QObject *receiver, int message, uintptr_t wparam, intptr_t lparam) {
    QCoreApplication::postEvent(receiver, new CWindowMessage(message, wparam, lparam));
}

void SendWindowMessage(QObject *receiver, int message, uintptr_t wparam, intptr_t lparam) {
    CWindowMessage msg(message, wparam, lparam);
    QCoreApplication::sendEvent(receiver, &msg);
}

}  // namespace vt::app
