#pragma once
// "Find events...": a companion window listing the events of every recording of the window's
// folder (time, kind, G), strongest first. The list is read through the catalogue on a worker
// thread; double clicking a line asks the window to open that recording just before the peak.
#include <QDialog>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/catalogue/folderreader.h"

class QLabel;
class QTableWidget;
class QMenu;

namespace vt::app::catalogue_ui {

// The context menu's text.
inline constexpr char kFindEventsMenuText[] = "Find events...";
// A recording opened from the list starts this long before the event's peak.
inline constexpr int64_t kLeadInMs = 2000;

// Opens `name` (relative to the folder) at `position_ms`.
using OpenAt = std::function<void(const QString &name, int64_t position_ms)>;

class CFindEventsDlg final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CFindEventsDlg)

public:
    CFindEventsDlg(QWidget *parent, OpenAt open_at);
    ~CFindEventsDlg() override;

    // Lists the events of `folder` (read again; an earlier reading is abandoned).
    void ShowFolder(const QString &folder, double threshold_g);

    // For tests: the lines shown, and the status line under them.
    QTableWidget *Table() const { return m_table; }
    QString Status() const;
    bool Busy() const { return m_busy; }
    // What double clicking row `row` does.
    void ActivateRow(int row);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Fill(const std::vector<FoundEvent> &events, uint64_t generation);
    void SaveGeometry();

    OpenAt m_open_at;
    QTableWidget *m_table;
    QLabel *m_status;
    QThreadPool m_pool;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    std::shared_ptr<std::atomic<size_t>> m_done, m_total;
    uint64_t m_generation = 0;
    bool m_busy = false;
    std::vector<FoundEvent> m_events;
};

// Adds "Find events..." to a context menu: opens (or raises) the owner's one companion window on
// `folder`.
void AddFindEventsEntry(QMenu *menu, QWidget *owner, const QString &folder, double threshold_g,
                        const OpenAt &open_at);

}  // namespace vt::app::catalogue_ui
