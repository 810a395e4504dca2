#pragma once

#include <QMainWindow>
#include <memory>

namespace Ui {
class MainForm;
}

// The program's main window: the drive's track list and every command.
class TMainForm final : public QMainWindow {
    Q_OBJECT

public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::MainForm> ui;
};
