#pragma once
// The window's way to the catalogue: a folder's trips and events, read on a worker thread through
// the program's catalogue file, and straight from the recordings when that file cannot be had.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "drivedata/trips.h"

namespace vt::app::catalogue_ui {

using Progress = std::function<void(size_t done, size_t total)>;

// Safe on any thread; each call uses its own connection to the catalogue.
bool ReadTrips(const std::string &folder, double threshold_g, std::vector<drivedata::Trip> *trips,
               const std::atomic<bool> *cancel, const Progress &progress);

// One event of one recording of a folder.
struct FoundEvent {
    std::string name;        // the recording, relative to the folder
    bool has_start = false;  // the name is a time: `start` holds it
    drivedata::DateTime start{};
    drivedata::Event event;
};

// Every event of every recording the window would play, strongest first (then in list order and
// time, so that equal strengths keep a stable order).
bool ReadEvents(const std::string &folder, double threshold_g, std::vector<FoundEvent> *events,
                const std::atomic<bool> *cancel, const Progress &progress);

}  // namespace vt::app::catalogue_ui
