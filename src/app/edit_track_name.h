#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class frmEditTrackName;
}

// Lets the user retype the title of one track. The caller puts the current
// title in with SetTitle, shows the dialog modally and, when it is accepted,
// takes Title() as typed.
class TfrmEditTrackName final : public QDialog {
    Q_OBJECT

public:
    explicit TfrmEditTrackName(QWidget* parent = nullptr);
    ~TfrmEditTrackName() override;

    void SetTitle(const QString& title);
    QString Title() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // OK may be pressed only with a title in the field; Enter in the field
    // confirms whatever it holds.
    void aOKUpdate();
    void aOKExecute();

    std::unique_ptr<Ui::frmEditTrackName> ui;
};
