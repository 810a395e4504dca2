#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class frmNoDeviceHint;
}

// Explains what to check when no CD drive could be opened. It only informs.
class TfrmNoDeviceHint final : public QDialog {
    Q_OBJECT

public:
    explicit TfrmNoDeviceHint(QWidget* parent = nullptr);
    ~TfrmNoDeviceHint() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::frmNoDeviceHint> ui;
};
