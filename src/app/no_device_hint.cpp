#include "no_device_hint.h"

#include "core/language.h"
#include "core/prompter.h"
#include "core/settings.h"
#include "core/translate_form.h"
#include "ui_no_device_hint.h"

TfrmNoDeviceHint::TfrmNoDeviceHint(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::frmNoDeviceHint>())
{
    ui->setupUi(this);
    setWindowTitle(ProductName());
    connect(ui->bClose, &QPushButton::clicked, this, &QDialog::accept);
}

TfrmNoDeviceHint::~TfrmNoDeviceHint() = default;

void TfrmNoDeviceHint::showEvent(QShowEvent* event)
{
    if (!IsEnglish(AppSettings().Language))
        TranslateForm(this, AppSettings().Language);
    QDialog::showEvent(event);
}
