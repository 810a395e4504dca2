#pragma once

#include "cd/cd_drive.h"
#include "jobs/job_view.h"

#include <QDialog>
#include <QStringList>
#include <memory>

namespace Ui {
class RipForm;
}

class TJobEngine;
class TMp3EncodeProcess;
class TPrompter;
class TWMAEncodeProcess;

// The job window: runs one job (an extraction or a batch of file conversions)
// while it is shown modally, with the current step's progress and times, and
// closes by itself when the job ends. Stop, the close button and Escape all end
// the job the same way (a running Ogg file is finished cleanly, not cut off).
//
// Threads: user-interface thread only; the workers of the job report to the
// engine by posted events.
class TRipForm final : public QDialog, public TJobView {
    Q_OBJECT

public:
    // Starts the job's first step. An error raised while it starts (an encoder
    // program that cannot be started, a file that cannot be read) propagates to
    // the caller; the job has then been finished and the window must not be
    // shown.
    TRipForm(QWidget* owner, TPrompter& prompter, TMp3EncodeProcess& mp3, TWMAEncodeProcess& wma, int jobKind,
             CDHandle drive, const QStringList& workList);
    ~TRipForm() override;

    TJobEngine& Engine();

    void SetCaption(const QString& text) override;
    void SetGroupTitle(const QString& text) override;
    void SetElapsedText(const QString& text) override;
    void SetEstimatedText(const QString& text) override;
    void SetGauge(int percent) override;
    int Gauge() const override;
    void SetGaugeTextVisible(bool visible) override;
    void ShowInitializing(const QString& text) override;
    void HideInitializing() override;
    void CloseView() override;

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void StopJob();
    void PlaceOver(const QWidget* owner);

    std::unique_ptr<Ui::RipForm> ui;
    std::unique_ptr<TJobEngine> JobEngine;
    // The step's texts as last set, already translated: a language file's
    // design-time captions must not replace them when the window is shown.
    QString Caption;
    QString GroupTitle;
    QString InitializingText; // empty until the job sets it
    bool InitializingShown = false;
    bool Ended = false;
};
