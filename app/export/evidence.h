#pragma once
// The window's evidence actions: "Export clip..." (a stretch around the current picture, copied
// without re-encoding, possibly across the recordings of the trip) and "Incident report..." (one
// PDF page about the current picture). Both write only where the user chose, by default into the
// user's Videos or Documents folder, never beside the recordings on the card.
//
// UI thread only. The export itself runs on a worker thread the dialog owns and joins.
#include <QDialog>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;

namespace vt::app::evidence {

// What the player shows now: the recording (absolute path) and the position in it.
struct Moment {
    QString recording;
    int64_t position_ms = 0;
};

// Asked where to write; tests answer instead of a file dialog. Empty: the user cancelled.
using FolderChooser = std::function<QString(QWidget *owner, const QString &start)>;
using FileChooser = std::function<QString(QWidget *owner, const QString &suggested)>;
using MessageSink = std::function<void(const QString &text)>;

// The user's Videos folder, else Documents, else the home folder (the first that exists).
QString DefaultOutputFolder();

// The recordings of the trip around `recording` in its folder (names YYYYMMDD_HHMMSS.mp4; one
// joins the one before it when it starts at most 10 s after that one ends), in order, with each
// one's start in trip time. A recording whose name is not a time stands alone.
struct TripFiles {
    QStringList paths;
    std::vector<int64_t> offsets_ms;
    std::vector<int64_t> durations_ms;
    int current = 0;  // index of `recording`
};
TripFiles FindTripFiles(const QString &recording);

// "Export clip...": from/to (default 20 s before to 10 s after the position, in seconds from the
// start of the current recording, reaching into its trip neighbours), folder, file name, the
// subtitle and map files, a progress bar and Cancel.
class CExportDlg final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CExportDlg)

public:
    CExportDlg(const Moment &moment, QWidget *parent = nullptr);
    ~CExportDlg() override;

    void SetFolderChooser(FolderChooser chooser) { m_choose_folder = std::move(chooser); }

    // Starts the export with the fields as they are (the Export button does this).
    void StartExport();
    void CancelExport();  // Cancel while running; otherwise closes the dialog
    bool Running() const { return m_worker.joinable() && !m_done; }

    // The fields, for tests.
    QDoubleSpinBox *FromBox() const { return m_from; }
    QDoubleSpinBox *ToBox() const { return m_to; }
    QLineEdit *FolderEdit() const { return m_folder; }
    QLineEdit *NameEdit() const { return m_name; }
    QCheckBox *SidecarsBox() const { return m_sidecars; }
    QProgressBar *Progress() const { return m_progress; }
    QString Status() const;
    const TripFiles &Trip() const { return m_trip; }

signals:
    // The export ended: ok, or the reason (cancelled: "Cancelled.").
    void Finished(bool ok, const QString &message);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void ChooseFolder();
    void Join();
    void OnFinished(bool ok, const QString &message);

    Moment m_moment;
    TripFiles m_trip;
    FolderChooser m_choose_folder;
    QDoubleSpinBox *m_from = nullptr;
    QDoubleSpinBox *m_to = nullptr;
    QLineEdit *m_folder = nullptr;
    QLineEdit *m_name = nullptr;
    QCheckBox *m_sidecars = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_export = nullptr;
    QPushButton *m_cancel = nullptr;
    // --- shared with the worker ---
    std::atomic<bool> m_cancel_requested{false};
    std::atomic<bool> m_done{false};
    std::thread m_worker;
};

// "Incident report...": asks for the PDF's name (in the default folder), writes the report of the
// current picture and its SHA-256 manifest, and says where they went. False when cancelled or
// failed (the reason went to `message`).
bool MakeIncidentReport(QWidget *owner, const Moment &moment, const FileChooser &choose,
                        const MessageSink &message);

// Adds "Export clip..." and "Incident report..." to the window's context menu. `moment` says what
// is shown when an entry is picked; without a recording the entries are disabled.
void AddMenuEntries(QMenu *menu, QWidget *owner, const std::function<Moment()> &moment,
                    const MessageSink &message);

// The standard choosers: QFileDialog.
FolderChooser DialogFolderChooser();
FileChooser DialogReportChooser();

}  // namespace vt::app::evidence
