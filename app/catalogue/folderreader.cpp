#include "app/catalogue/folderreader.h"

#include <algorithm>

#include "catalogue/catalogue.h"

namespace vt::app::catalogue_ui {

namespace {
// A catalogue that cannot be opened (a read-only cache folder, a lock held for too long) leaves a
// closed one, with which every recording is read from its file.
void OpenCatalogue(catalogue::Catalogue *cat) {
    std::string ignored;
    cat->Open(catalogue::DefaultFile(), &ignored);
}
}  // namespace

bool ReadTrips(const std::string &folder, double threshold_g, std::vector<drivedata::Trip> *trips,
               const std::atomic<bool> *cancel, const Progress &progress) {
    catalogue::Catalogue cat;
    OpenCatalogue(&cat);
    std::string error;
    return catalogue::ReadFolderTrips(&cat, folder, threshold_g, trips, &error, cancel, progress);
}

bool ReadEvents(const std::string &folder, double threshold_g, std::vector<FoundEvent> *events,
                const std::atomic<bool> *cancel, const Progress &progress) {
    events->clear();
    catalogue::Catalogue cat;
    OpenCatalogue(&cat);
    std::vector<drivedata::RecordingSummary> summaries;
    std::string error;
    if (!cat.ReadFolder(folder, threshold_g, &summaries, &error, cancel, progress)) return false;
    for (const drivedata::RecordingSummary &s : summaries) {
        if (!s.usable) continue;
        for (const drivedata::Event &e : s.events)
            events->push_back({s.name, s.has_start, s.start, e});
    }
    // Summaries come in list order; a stable sort keeps it among equal strengths.
    std::stable_sort(events->begin(), events->end(), [](const FoundEvent &a, const FoundEvent &b) {
        return a.event.peak_g > b.event.peak_g;
    });
    return true;
}

}  // namespace vt::app::catalogue_ui
