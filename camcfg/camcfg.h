#pragma once
// The camera's settings files on its memory card: four one-byte code files and the clock file.
// The settings dialog reads and writes them only through these functions. UI thread only.
#include <cstdint>
#include <string>
#include <vector>

namespace vt::camcfg {

inline constexpr char kQualityFile[] = "setquality.dat";
inline constexpr char kSoundFile[] = "setsound.dat";
inline constexpr char kSensitivityFile[] = "setsensitivity.dat";
inline constexpr char kFrameFile[] = "setframe.dat";
inline constexpr char kTimeFile[] = "settime.dat";

// Codes that stand for a missing file.
inline constexpr int kQualityDefault = 3;
inline constexpr int kSoundDefault = 2;
inline constexpr int kSensitivityDefault = 1;
inline constexpr int kFrameDefault = 3;

inline constexpr size_t kTimeFileLength = 19;  // "YYYY-MM-DD-hh-mm-ss", no terminator

// The messages the settings dialog shows, letter for letter.
inline constexpr char kMsgSelectFolder[] = "Select Folder.";
inline constexpr char kMsgConfirmPath[] = "Confirm Path.";
inline constexpr char kMsgCreated[] = "Created Configuration File.";

// folder + "/" + name (no doubled separator when the folder already ends in one).
std::string SettingPath(const std::string &folder, const char *name);

// The file's first byte, or `default_code` when it cannot be opened. An empty file reads as 0.
int ReadSettingByte(const std::string &folder, const char *name, int default_code);

// Creates or truncates the file and writes the one code byte. False when the file cannot be
// created or the byte does not reach it.
bool WriteSettingByte(const std::string &folder, const char *name, uint8_t code);

// Writes the 19-byte clock file. False when the file cannot be written, or when a number does
// not fit its field (4 characters for the year, 2 for the others, a sign included), since the
// file must stay exactly 19 bytes.
bool WriteTimeFile(const std::string &folder, int year, int month, int day, int hour, int minute,
                   int second);
// The usual decimal conversion of an edit box's text: leading white space, an optional sign,
// digits up to the first non-digit; no digits gives 0. Saturates instead of overflowing.
int ParseDecimal(const std::string &text);

// The dialog's radio-button rows. A row's buttons stand for the codes 3, 2, 1 (and 0 for sound).
enum class Setting { kQuality, kSound, kSensitivity, kFrame };
// Index of the button of `code` in its row (0 for code 3, 1 for 2, ...), or -1 when the code is
// not one of the row's: the row is then left as it was.
int ButtonForCode(Setting setting, int code);

// The codes the dialog shows and writes.
struct CameraSettings {
    uint8_t quality = kQualityDefault;
    uint8_t sound = kSoundDefault;
    uint8_t sensitivity = kSensitivityDefault;
    uint8_t frame = kFrameDefault;
};

// Reads the four code files of a folder in the dialog's order (quality, sensitivity, sound,
// frame). A missing file gives its default; a code that is not one of its row's leaves that
// setting as it was in *settings.
void ReadSettings(const std::string &folder, CameraSettings *settings);

struct WriteOutcome {
    std::vector<std::string> messages;  // to show one after the other
    bool completed = false;             // the completion message was given: the dialog closes
};

// Writes a set of files: the four codes, then the clock file when `time_texts` is given (the six
// edit texts: year, month, day, hour, minute, second). `folder_chosen` false means no settings
// folder was chosen in this run. Files that cannot be written get their own message and the rest
// are still written; nothing is rolled back.
WriteOutcome WriteSettings(bool folder_chosen, const std::string &folder,
                           const CameraSettings &settings, const std::string *time_texts);

}  // namespace vt::camcfg
