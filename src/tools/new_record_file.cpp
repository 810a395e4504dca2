#include "new_record_file.h"

#include "core/language.h"
#include "core/settings.h"
#include "core/translate_form.h"
#include "ui_new_record_file.h"

#include <algorithm>

TfrmNewRecordFile::TfrmNewRecordFile(QWidget* owner)
    : QDialog(owner), ui(std::make_unique<Ui::frmNewRecordFile>())
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->cbBitSamples->setCurrentText(QStringLiteral("44100"));
    connect(ui->btOK, &QPushButton::clicked, this, [this] { done(1); });
    connect(ui->btCancel, &QPushButton::clicked, this, [this] { done(2); });
}

TfrmNewRecordFile::~TfrmNewRecordFile() = default;

void TfrmNewRecordFile::showEvent(QShowEvent* event)
{
    if (!IsEnglish(AppSettings().Language))
        TranslateForm(this, AppSettings().Language);
    // The two rows of choices line up in columns in every language.
    ui->rb8Bit->setMinimumWidth(0);
    ui->rbMono->setMinimumWidth(0);
    const int first = std::max(ui->rb8Bit->sizeHint().width(), ui->rbMono->sizeHint().width());
    ui->rb8Bit->setMinimumWidth(first);
    ui->rbMono->setMinimumWidth(first);
    QDialog::showEvent(event);
}

int TfrmNewRecordFile::SampleRate() const
{
    return ui->cbBitSamples->currentText().toInt();
}

int TfrmNewRecordFile::BitsPerSample() const
{
    return ui->rb8Bit->isChecked() ? 8 : 16;
}

int TfrmNewRecordFile::Channels() const
{
    return ui->rbMono->isChecked() ? 1 : 2;
}

void TfrmNewRecordFile::SetFormat(int sampleRate, int bits, int channels)
{
    ui->cbBitSamples->setCurrentText(QString::number(sampleRate));
    (bits == 8 ? ui->rb8Bit : ui->rb16Bit)->setChecked(true);
    (channels == 1 ? ui->rbMono : ui->rbStereo)->setChecked(true);
}
