#pragma once

#include "app/option_values.h"

#include <QDialog>
#include <memory>

namespace Ui {
class OptionSetForm;
}

class QComboBox;
class TPrompter;

// The options dialog: edits the settings and the album data of the disc in
// hand, and lets the user choose another CD drive. Nothing is stored before OK,
// and OK stores nothing unless every page can be stored. The drive itself is
// switched by the opener once the dialog has closed (DriveSwitchWanted).
//
// Threads: user-interface thread only.
class TOptionSetForm final : public QDialog {
    Q_OBJECT

public:
    // Messages and the folder picker go to prompter. openDrive is the position
    // in the drive list of the drive in use, -1 when none is open.
    explicit TOptionSetForm(TPrompter& prompter, int openDrive = -1, QWidget* parent = nullptr);
    ~TOptionSetForm() override;

    // After OK: whether the opener must open the drive at SelectedDrive() in
    // place of its own (another drive was chosen, or the CDDB flag changed).
    bool DriveSwitchWanted() const;
    int SelectedDrive() const;

    // Showing translates the dialog and loads it from the settings, before it
    // is laid out, so it takes the size its texts need.
    void setVisible(bool visible) override;

private:
    void LoadControls(const TOptionValues& values);
    TOptionValues ControlValues() const;
    void UpdateEnabled();
    void ListDrives();
    void Browse();
    void LameDefaults();
    void WmaDefaults();
    void Ok();
    // Shows why field cannot be stored and puts the cursor where it is.
    void Refuse(TOptionField field, const TOptionValues& values);
    void ShowField(QWidget* control, QWidget* page);

    std::unique_ptr<Ui::OptionSetForm> ui;
    TPrompter& Prompter;
    int OpenDrive;
    // Taken when the dialog is shown: the drive the list starts on and the CDDB
    // flag, against which OK decides whether the drive must be opened afresh.
    int RememberedDrive = 0;
    bool RememberedCddb = false;
    bool SwitchWanted = false;
};
