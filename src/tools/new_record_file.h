#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class frmNewRecordFile;
}

// Asks for the format of a new recording: sample rate, sample size and
// channels. OK ends with result 1, Cancel with 2.
class TfrmNewRecordFile final : public QDialog {
    Q_OBJECT

public:
    explicit TfrmNewRecordFile(QWidget* owner = nullptr);
    ~TfrmNewRecordFile() override;

    int SampleRate() const;
    int BitsPerSample() const;
    int Channels() const;
    void SetFormat(int sampleRate, int bits, int channels);

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::frmNewRecordFile> ui;
};
