#pragma once
// Ties the Trip and map window to the player window without either knowing the other's classes:
// the player window hands over three functions, the link keeps the window's trip and position in
// step with playback and turns the window's seeks (trip time) into a recording and a time in it.
// User-interface thread only.
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "app/map/mapsettings.h"
#include "app/map/trip.h"

class QTimer;
class QWidget;

namespace vt::map {

class CTripMapWindow;

struct PlayerLink {
    // Absolute path of the open recording; empty when none is open.
    std::function<QString()> current_path;
    // Playback position in the open recording, in ms.
    std::function<int64_t()> position_ms;
    // Play `path` from `ms` (opening it first when it is not the open one).
    std::function<void(const QString &path, int64_t ms)> seek;
};

class CTripMapLink final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CTripMapLink)

public:
    CTripMapLink(QWidget *owner, PlayerLink link, MapSettings settings);
    ~CTripMapLink() override;

    // Shows and raises the window, loading the open recording's trip when it changed.
    void Show();
    CTripMapWindow *Window() const { return m_window; }
    // Reads the player once: a new recording outside the trip loads its trip, the position moves
    // the map and the strip. Runs every 100 ms while the window is visible.
    void Poll();
    // What a seek in the window does: the recording and the time in it, then the player's seek.
    void SeekTrip(qint64 trip_ms);

private:
    void LoadTrip(const QString &path);

    PlayerLink m_link;
    MapSettings m_settings;
    CTripMapWindow *m_window = nullptr;
    QTimer *m_timer = nullptr;
    QString m_loaded_for;  // the recording whose trip is shown (or failed to load)
    std::shared_ptr<const Trip> m_trip;
};

// Ctrl+M and the context menu: the owner's one link, created on first use with the settings of
// settings.ini, then shown.
CTripMapLink *ShowTripMap(QWidget *owner, PlayerLink link);

}  // namespace vt::map
