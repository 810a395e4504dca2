#pragma once

#include "app/drive_session.h"
#include "app/job_commands.h"
#include "app/status_text.h"
#include "cd/cd_drive.h"

#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace Ui {
class MainForm;
}

class QAction;
class QLabel;
class QMenu;
class QToolButton;
class QTreeWidgetItem;
class TCDPlayer;
class TMediaWatcher;
class TMp3EncodeProcess;
class TWMAEncodeProcess;
class TPrompter;
struct TCddbLookupResult;

// The program's main window: it opens the CD drive, lists the disc's tracks and
// carries every command; every other window is shown modally over it. Start-up
// and shut-down of the whole program happen here.
//
// Threads: user-interface thread only.
class TMainForm final : public QMainWindow {
    Q_OBJECT

public:
    // Messages and questions go to prompter; without one the window shows real
    // message boxes.
    explicit TMainForm(TPrompter* prompter = nullptr, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The open drive, 0 when none is open, and its display name.
    CDHandle DriveHandle() const;
    QString DriveName() const;

    // The status text that CD playback puts back when it stops.
    QString SavedStatusText;
    bool NoAudioDisc = false;
    bool Playing = false;
    bool Paused = false;

    // Lists the drives and opens the one at position (from 0); 0 on failure.
    CDHandle OpenDrive(int position);
    // Makes handle (from OpenDrive) the window's drive and watches its media.
    void UseDrive(CDHandle handle);
    // Whether the drive holds a disc with audio tracks.
    bool HasAudioDisc();
    // Reads the disc in the drive into the track list.
    void ReadDisc();

    // The rows of the track list as they stand.
    std::vector<TTrackRow> TrackRows() const;
    // The text status panel 0 shows.
    QString StatusText() const;

    // The MP3 encoder that every job of this run uses.
    TMp3EncodeProcess& Mp3Encoder();
    TWMAEncodeProcess& WmaEncoder();

    // Replaces the job window: runner receives each job a command makes
    // instead (tests that check only what the commands hand over).
    void SetJobRunner(std::function<void(const TJobRequest&)> runner);

signals:
    // A command has made a job and hands it to the job window.
    void JobRequested(const TJobRequest& request);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FirstShow();
    void Activated();
    void ShowStatus(const TStatusText& status);
    void SetRows(const std::vector<TTrackRow>& rows);
    void ClearRows();
    QTreeWidgetItem* SelectedRow() const;
    void UpdateActions();
    void BindToolButton(QToolButton* button, QAction* action);
    void TickLanguageItem(const QString& language);
    void WatchDrive();
    void KeepListedTitles();

    void Extract();
    void Convert(TConversion conversion, QAction* action);
    // Runs the job in the job window; command is the menu item that made it.
    void OpenJobWindow(const TJobRequest& request);
    void SelectAll(bool ticked);
    void RenameTitle();
    void Refresh();
    void EjectDisc();
    void CloseTray();
    void OpenOutputFolder();
    void OptionSet();
    void SwitchDrive(int position);
    void VolumeControl();
    void QueryCDDB();
    // Shows what a lookup found in the list and keeps it for the disc.
    void ApplyLookup(const TCddbLookupResult& result, int firstTrack);
    void EditID3Tag();
    void ChooseLanguage(QAction* item);
    void ShowOggPlayer();
    void ShowRecorder();
    void ShowHelp();
    void ShowResample();
    void ShowAbout();
    void MediaArrived();
    void MediaRemoved();
    void ShutDown();
    void PlayTrack();
    void PauseTrack();
    void StopTrack();
    // Stops CD playback as Stop does and closes the player, whose worker has
    // then ended: before the drive's handle closes or its disc goes away.
    void EndPlayback();
    // Opens the player and plays the selected row to the start of the next
    // row's track, or the last row to the end of the disc.
    void PlaySelectedRow();
    void ClearHistory(bool vlc);

    std::unique_ptr<Ui::MainForm> ui;
    std::unique_ptr<TPrompter> OwnPrompter;
    TPrompter& Prompter;
    std::function<void(const TJobRequest&)> JobRunner;
    std::unique_ptr<TMp3EncodeProcess> Mp3EncoderObject;
    std::unique_ptr<TWMAEncodeProcess> WmaEncoderObject;
    TDriveSession Drive;
    TJobCommands JobCommands;
    TMediaWatcher* MediaWatcher;
    TCDPlayer* MediaPlayer1;
    QLabel* StatusPanel0;
    QLabel* StatusPanel1;
    QMenu* PopupMenu;
    TStatusText CurrentStatus;
    bool Shown = false;
    bool HintShown = false;
    // Settings or cache files that are not regular files, told once the window
    // is first active, before the drive hint.
    QStringList SettingsProblems;
    bool ShutDownDone = false;
    bool StartupTraced = false;
};
