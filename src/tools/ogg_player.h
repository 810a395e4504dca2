#pragma once

#include <QDialog>
#include <QImage>
#include <QString>

#include <memory>

namespace Ui {
class frmOggPlayer;
}

class QTimer;
class TAudioOut;
class TPrompter;
class TSoundIndicator;
class TStereoBalance;
class TVorbisIn;

// The Ogg player: opens one Ogg Vorbis file at a time and plays it on the sound
// card, with a position bar that seeks, pause, stop, left/right balance, the
// time played and a 32-band level display.
//
// The chain: VorbisIn1 -> SoundIndicator1 -> StereoBalance1 -> AudioOut1.
// Closing the window always stops playback first: a close asked for during
// playback stops it and the window closes once the run has ended.
//
// Threads: user-interface thread. The sink's progress and done events arrive
// on its worker and are posted here.
class TfrmOggPlayer final : public QDialog {
    Q_OBJECT

public:
    // Raises EACSException when the Ogg Vorbis libraries are missing.
    TfrmOggPlayer(QWidget* owner, TPrompter& prompter);
    ~TfrmOggPlayer() override;

    TVorbisIn& VorbisIn() const { return *VorbisIn1; }
    TSoundIndicator& SoundIndicator() const { return *SoundIndicator1; }
    TStereoBalance& StereoBalance() const { return *StereoBalance1; }
    TAudioOut& AudioOut() const { return *AudioOut1; }
    int ElapsedMs() const { return ElapsedMsValue; }
    bool Closing() const { return ClosingValue; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

public slots:
    void reject() override;

private:
    void OpenAndPlay();
    void Play(const QString& path);
    void Seek();
    void PauseOrResume();
    void StopPlayback();
    void Ended();
    void SetTimers(bool on);
    void ShowPlayingControls(bool playing);
    void ShowElapsed();
    void DrawLevels();
    void ClearLevels(const QColor& colour);
    QString StartFolder() const;

    std::unique_ptr<Ui::frmOggPlayer> ui;
    TPrompter& Prompter;
    // Source first; destroyed sink first.
    std::unique_ptr<TVorbisIn> VorbisIn1;
    std::unique_ptr<TSoundIndicator> SoundIndicator1;
    std::unique_ptr<TStereoBalance> StereoBalance1;
    std::unique_ptr<TAudioOut> AudioOut1;
    QTimer* Timer1;
    QTimer* Timer2;
    QImage Bitmap;
    int ElapsedMsValue = 0;
    int TotalSeconds = 0;
    bool ClosingValue = false;
};
