#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>
#include <memory>

namespace Ui {
class frmRecord;
}

class QMenu;
class QTimer;
class QToolButton;
class TMp3EncodeProcess;
class TPrompter;
class TWMAEncodeProcess;
class TWaveDevice;
class TfrmNewRecordFile;

// A length as the recorder shows it: "5.3 Sec" below a minute (three
// significant digits), "1 Min15 Sec" or "1Hour5 Sec" from a minute on.
QString FormatLength(qint64 milliseconds);

// The program's recording mixer: the first installed of pavucontrol on its
// input tab, pwvucontrol, the GNOME and the KDE sound settings, as a program
// and its arguments; empty when there is none.
QStringList RecordingControlCommand();

// The sound recorder: records from the sound card into a WAV file, plays it,
// saves it under a name (and, when "MP3 format" is ticked, encodes an MP3
// beside it through the job window), and drops what was recorded since the
// last save.
//
// An untitled recording lives in "MyNoName.wav" in the program folder; an
// opened or saved one is worked on in the copy "MyTemp.wav" there, which the
// window deletes when it closes. Each recording is written into its file when
// it stops, so the file always holds what the user heard.
//
// Threads: user-interface thread; the device's own threads stay inside it.
class TfrmRecord final : public QDialog {
    Q_OBJECT

public:
    // Asks for a new file's format; true for OK. The default shows the dialog.
    using TNewFileAsker = std::function<bool(TfrmNewRecordFile& dialog)>;
    // Runs an encoding job (kind 4 on one file). The default shows the job window.
    using TJobRunner = std::function<void(int kind, const QStringList& workList)>;

    TfrmRecord(QWidget* owner, TPrompter& prompter, TMp3EncodeProcess& mp3, TWMAEncodeProcess& wma);
    ~TfrmRecord() override;

    void SetNewFileAsker(TNewFileAsker asker) { NewFileAsker = std::move(asker); }
    void SetJobRunner(TJobRunner runner) { JobRunner = std::move(runner); }

    TWaveDevice& Device() const { return *WaveDevice; }
    QString CurrentFile() const { return CurrentFileValue; }
    QString WorkingCopy() const { return WorkingCopyValue; }
    bool Modified() const { return ModifiedValue; }
    bool Mp3Done() const { return Mp3DoneValue; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public slots:
    void reject() override;

private:
    enum TButton { btPlay = 1, btStop = 2, btNext = 4, btPrev = 8, btStep = 16, btBack = 32, btRecord = 64 };

    void PlayClicked();
    void StopClicked();
    void NextClicked();
    void PrevClicked();
    void RecordClicked();
    void Timer1Tick();
    void TimerRecordTick();
    void SliderMoved();
    void UpdateMenu();

    void NewRecording();
    bool OpenRecording(const QString& path);
    void OpenDialog();
    bool SaveIfModified(bool ask);
    void SaveAs();
    void Undo();
    void ConvertToMp3();
    void RecordingControl();

    // Where the chosen name for a save is fine: ".wav" and, for an existing
    // file, the user's yes. Empty when not.
    QString AskSaveName(bool* existed);
    void SetEnabledButtons(int buttons);
    bool Untitled() const;
    bool Recording() const;
    void ShowRecordTime();
    void ShowLength();
    qint64 SliderPosition() const;

    std::unique_ptr<Ui::frmRecord> ui;
    TPrompter& Prompter;
    TMp3EncodeProcess& Mp3;
    TWMAEncodeProcess& Wma;
    std::unique_ptr<TWaveDevice> WaveDevice;
    QMenu* PopupMenu;
    QTimer* Timer1;
    QTimer* TimerRecord;
    TNewFileAsker NewFileAsker;
    TJobRunner JobRunner;

    QString CurrentFileValue;
    QString WorkingCopyValue;
    qint64 PlayPosition = 0;
    QElapsedTimer RecordStart;
    bool ModifiedValue = false;
    bool Mp3DoneValue = false;
    int LastMilliseconds = 0;
    bool Closed = false;
};
