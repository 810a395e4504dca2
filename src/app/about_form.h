#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class frmAbout;
}

// The About box: the program's name and version and what it is built on.
class TfrmAbout final : public QDialog {
    Q_OBJECT

public:
    explicit TfrmAbout(QWidget* parent = nullptr);
    ~TfrmAbout() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::frmAbout> ui;
};
