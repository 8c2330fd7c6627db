#pragma once
// A recording cut off by power loss cannot be played, but its pictures, sound and sensor records
// are still on the card. Opening one offers a repaired copy: written to a folder the user picks
// (the user's Videos folder unless another is chosen; never the card unless the user picks it),
// leaving the original untouched.
#include <QString>
#include <functional>

class QWidget;

namespace vt::app {

inline constexpr const char *kRepairQuestion =
    "This recording was cut off before the camera finished it. Repair a copy?";

// What the user is asked; tests replace these. Empty members use the standard dialogs.
struct RepairPrompts {
    std::function<bool(QWidget *owner, const QString &question)> ask;
    std::function<QString(QWidget *owner, const QString &title, const QString &start)>
        choose_folder;
};

// True when the file is a recording whose index was never written.
bool IsCutOffRecording(const QString &path);

// Where copies go unless the user picks another folder: the user's Videos folder.
QString DefaultRepairFolder();

// The copy's path in `folder`: the recording's own name, unless that is taken (or is the
// original itself), then with "-repaired" and a number if needed.
QString RepairedCopyPath(const QString &broken, const QString &folder);

// Asks, lets the user pick the folder, writes the copy. Returns its path; empty when the user
// declined or cancelled (*error empty) or the repair failed (*error says why, in one line).
QString OfferRepair(QWidget *owner, const QString &broken, const RepairPrompts &prompts,
                    QString *error);

}  // namespace vt::app
