#pragma once

#include <QString>

// What a running job shows: the job window draws it, the command-line mode
// prints it. The engine calls these on the thread that owns it.
class TJobView {
public:
    virtual ~TJobView() = default;

    virtual void SetCaption(const QString& text) = 0;       // the window caption
    virtual void SetGroupTitle(const QString& text) = 0;    // GroupBox1
    virtual void SetElapsedText(const QString& text) = 0;   // Label1; empty clears it
    virtual void SetEstimatedText(const QString& text) = 0; // Label2; empty clears it
    virtual void SetGauge(int percent) = 0;                 // FlatGauge1, 0..100
    virtual int Gauge() const = 0;
    virtual void SetGaugeTextVisible(bool visible) = 0; // the percent text on the gauge
    // Label3 over the gauge: shown with a text, or hidden.
    virtual void ShowInitializing(const QString& text) = 0;
    virtual void HideInitializing() = 0;
    // The job has ended (or was stopped): the view closes. Called once.
    virtual void CloseView() = 0;
};
