#pragma once
// The camera settings dialog: a small skinned modal window in which the user picks the settings
// folder on the camera's card, sees the codes stored there as four rows of radio buttons, changes
// them and writes them back, optionally with the camera's clock. The files themselves are
// camcfg's business; this class only maps them to controls and shows its messages.
#include <QDialog>
#include <QHash>
#include <functional>
#include <string>

#include "camcfg/camcfg.h"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace vt::app {

// Control ids of the settings dialog.
enum SetupControlId : int {
    IDC_SETUP_CLOSE = 1,
    IDC_QUALITY_3 = 1106,
    IDC_QUALITY_2 = 1107,
    IDC_QUALITY_1 = 1108,
    IDC_FRAME_3 = 1109,
    IDC_FRAME_2 = 1110,
    IDC_FRAME_1 = 1111,
    IDC_SOUND_3 = 1112,
    IDC_SOUND_2 = 1113,
    IDC_SOUND_1 = 1114,
    IDC_SENSITIVITY_3 = 1115,
    IDC_SENSITIVITY_2 = 1116,
    IDC_SENSITIVITY_1 = 1117,
    IDC_SETUP_FOLDER = 1118,
    IDC_SETUP_WRITE = 1119,
    IDC_SOUND_0 = 1124,
    IDC_TIME_YEAR = 1126,
    IDC_TIME_MONTH = 1128,
    IDC_TIME_DAY = 1129,
    IDC_TIME_HOUR = 1130,
    IDC_TIME_MINUTE = 1131,
    IDC_TIME_SECOND = 1132,
    IDC_SET_CLOCK = 1133,
};

inline constexpr char kSetupFolderTitle[] = "Select Fold";

class CCameraSetupDlg final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CCameraSetupDlg)

public:
    // opensetpath_file: the remembered settings folder, read now as the browser's start folder
    // and written back when the dialog is destroyed.
    explicit CCameraSetupDlg(QWidget *parent, const QString &opensetpath_file);
    ~CCameraSetupDlg() override;

    // What the user would otherwise be asked for or told; tests replace these.
    using FolderChooser =
        std::function<QString(QWidget *owner, const QString &title, const QString &start)>;
    using MessageSink = std::function<void(const QString &text)>;
    void SetFolderChooser(FolderChooser chooser) { m_choose_folder = std::move(chooser); }
    void SetMessageSink(MessageSink sink) { m_message_sink = std::move(sink); }

    // Button 1118: choose the settings folder and show the codes stored there.
    void ChooseFolder();
    // Button 1119: write the files; closes the dialog once the set is written.
    void WriteFiles();

    QWidget *Control(int id) const { return m_controls.value(id); }
    // The codes as the radio buttons last gave them.
    camcfg::CameraSettings Codes() const { return m_codes; }
    bool TimeFlag() const { return m_time_flag; }
    QString RememberedFolder() const { return QString::fromLocal8Bit(m_remembered.c_str()); }

    // The settings folder chosen in this run, shared by every settings dialog until the program
    // ends; empty until one is chosen.
    static QString SettingsFolder();
    // Forgets it, as a new run would (tests).
    static void ForgetSettingsFolder();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void BuildControls();
    QRadioButton *AddRadio(int id, QButtonGroup *row, QPoint at);
    void CheckCode(camcfg::Setting setting, int code);
    void RecomputeCodes();
    void SetClock(bool on);
    void ShowMessage(const QString &text);

    QHash<int, QWidget *> m_controls;
    QButtonGroup *m_rows[4] = {};  // quality, frame, sound, sensitivity
    QCheckBox *m_clock = nullptr;
    QLineEdit *m_time[6] = {};

    camcfg::CameraSettings m_codes;
    bool m_time_flag = false;
    std::string m_remembered;
    QString m_opensetpath_file;

    bool m_dragging = false;
    QPoint m_drag_offset;

    FolderChooser m_choose_folder;
    MessageSink m_message_sink;
};

}  // namespace vt::app
