#include "edit_track_name.h"

#include "core/language.h"
#include "core/settings.h"
#include "core/translate_form.h"
#include "ui_edit_track_name.h"

TfrmEditTrackName::TfrmEditTrackName(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::frmEditTrackName>())
{
    ui->setupUi(this);
    connect(ui->bOK, &QPushButton::clicked, this, &TfrmEditTrackName::aOKExecute);
    connect(ui->bCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->eName, &QLineEdit::textChanged, this, &TfrmEditTrackName::aOKUpdate);
    connect(ui->eName, &QLineEdit::returnPressed, this, &TfrmEditTrackName::aOKExecute);
    aOKUpdate();
}

TfrmEditTrackName::~TfrmEditTrackName() = default;

void TfrmEditTrackName::SetTitle(const QString& title)
{
    ui->eName->setText(title);
}

QString TfrmEditTrackName::Title() const
{
    return ui->eName->text();
}

void TfrmEditTrackName::showEvent(QShowEvent* event)
{
    if (!IsEnglish(AppSettings().Language))
        TranslateForm(this, AppSettings().Language);
    QDialog::showEvent(event);
    ui->eName->selectAll();
    ui->eName->setFocus();
}

void TfrmEditTrackName::aOKUpdate()
{
    ui->bOK->setEnabled(!ui->eName->text().isEmpty());
}

void TfrmEditTrackName::aOKExecute()
{
    accept();
}
