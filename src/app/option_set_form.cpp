#include "option_set_form.h"

#include "app/job_commands.h"
#include "cd/cd_drive.h"
#include "codecs/genre_list.h"
#include "codecs/wma_settings.h"
#include "core/disc_info.h"
#include "core/language.h"
#include "core/program_folder.h"
#include "core/prompter.h"
#include "core/settings.h"
#include "core/translate_form.h"
#include "ui_option_set_form.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

namespace {

// An editable bit-rate list shows a rate of the list as that entry, any other
// as typed text.
void ShowBitRate(QComboBox* combo, const QString& text)
{
    const int position = combo->findText(text);
    combo->setCurrentIndex(position);
    if (position < 0)
        combo->setEditText(text);
}

// The limit holds for typing only: a longer text the cache already holds (a
// CDDB artist, say) is shown whole and stored unchanged when left alone.
void ShowLimitedText(QLineEdit* edit, const QString& text, int limit)
{
    edit->setMaxLength(qMax(limit, static_cast<int>(text.size())));
    edit->setText(text);
}

QString WithoutAccelerator(QString text)
{
    text.replace(QLatin1String("&&"), QLatin1String("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

// Where the folder picker starts: the folder typed, else the nearest folder
// above it that exists (the output folder of a fresh installation is made only
// when first used), else the program folder or the home folder.
QString BrowseStart(const QString& typed)
{
    if (!typed.trimmed().isEmpty()) {
        QString path = QDir::cleanPath(QFileInfo(typed).absoluteFilePath());
        while (!QFileInfo(path).isDir()) {
            const QString parent = QFileInfo(path).path();
            if (parent == path)
                break;
            path = parent;
        }
        if (QFileInfo(path).isDir() && !QDir(path).isRoot())
            return path;
    }
    return IsPortableUse() ? ProgramFolder() : QDir::homePath();
}

} // namespace

TOptionSetForm::TOptionSetForm(TPrompter& prompter, int openDrive, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::OptionSetForm>()), Prompter(prompter), OpenDrive(openDrive)
{
    ui->setupUi(this);
    for (int kbits : Mp3BitRates) {
        ui->cbBitRate->addItem(Mp3BitRateText(kbits));
        ui->cbMaxBitRate->addItem(Mp3BitRateText(kbits));
    }
    for (const TWmaSetting& setting : WmaSettings())
        ui->cbWMABitrate->addItem(QString::fromLatin1(setting.ListText));
    ui->ID3genre->addItems(GenreNames());
    ui->ID3genre->setMaxVisibleItems(20);
    // The percentage changes by its arrows (and the arrow keys) only.
    if (auto* edit = ui->SpinEdit1->findChild<QLineEdit*>())
        edit->setReadOnly(true);
    ui->PageControl1->setCurrentIndex(0);

    connect(ui->ckNormalize, &QCheckBox::toggled, this, &TOptionSetForm::UpdateEnabled);
    connect(ui->cbRipTime, &QCheckBox::toggled, this, &TOptionSetForm::UpdateEnabled);
    connect(ui->ckbSelectVBR, &QCheckBox::toggled, this, &TOptionSetForm::UpdateEnabled);
    connect(ui->cbUseCompress, &QCheckBox::toggled, this, &TOptionSetForm::UpdateEnabled);
    connect(ui->cbOutputFormat, &QComboBox::currentIndexChanged, this, &TOptionSetForm::UpdateEnabled);
    connect(ui->PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
        if (ui->PageControl1->widget(index) == ui->tsCDROM)
            ListDrives();
    });
    connect(ui->btBrowser, &QToolButton::clicked, this, &TOptionSetForm::Browse);
    connect(ui->bDefault, &QPushButton::clicked, this, &TOptionSetForm::LameDefaults);
    connect(ui->bWMADefault, &QPushButton::clicked, this, &TOptionSetForm::WmaDefaults);
    connect(ui->btOk, &QPushButton::clicked, this, &TOptionSetForm::Ok);
    connect(ui->btCancel, &QPushButton::clicked, this, &QDialog::reject);
    UpdateEnabled();
}

TOptionSetForm::~TOptionSetForm() = default;

bool TOptionSetForm::DriveSwitchWanted() const
{
    return SwitchWanted;
}

int TOptionSetForm::SelectedDrive() const
{
    return ui->cbCDList->currentIndex();
}

void TOptionSetForm::setVisible(bool visible)
{
    if (visible && !isVisible()) {
        if (!IsEnglish(AppSettings().Language))
            TranslateForm(this, AppSettings().Language);
        const TOptionValues values = OptionValuesOf(AppSettings(), DiscInfo());
        LoadControls(values);
        RememberedDrive = OpenDrive >= 0 ? OpenDrive : qMax(values.DriveIndex, 0);
        RememberedCddb = values.UseCddb;
        SwitchWanted = false;
    }
    QDialog::setVisible(visible);
}

void TOptionSetForm::LoadControls(const TOptionValues& values)
{
    ui->editOutputDir->setText(values.OutputFolder);
    ui->ckbKeepWav->setChecked(values.DeleteWav);
    ui->cbOutputFormat->setCurrentIndex(values.OutputFormat);
    ui->ckNormalize->setChecked(values.Normalize);
    ui->SpinEdit1->setValue(values.NormalizePercent);
    ui->cbRipTime->setChecked(values.EnableRipTime);
    ui->eRipTime->setText(values.RipTimeText);

    ui->ckbSelectVBR->setChecked(values.Mp3Vbr);
    ui->ckbVBRHead->setChecked(values.Mp3NoVbrTag);
    ShowBitRate(ui->cbBitRate, values.Mp3BitRateText);
    ShowBitRate(ui->cbMaxBitRate, values.Mp3MaxBitRateText);
    ui->cbVBRQuality->setCurrentIndex(values.Mp3VbrQuality);
    ui->cbMpegQuality->setCurrentIndex(values.Mp3Quality);
    ui->cbStereoMode->setCurrentIndex(values.Mp3StereoMode);

    ui->cbUseCompress->setChecked(values.OggUseQuality);
    ui->tbCompression->setValue(values.OggQuality);
    ui->cbOggNomBit->setCurrentIndex(values.OggNominalBitRate);
    ui->cbOggMaxBit->setCurrentIndex(values.OggMaxBitRate);
    ui->cbOggMinBit->setCurrentIndex(values.OggMinBitRate);

    ui->cbWMABitrate->setCurrentIndex(values.WmaSetting);

    ui->cbUseID3->setChecked(values.UseId3);
    ShowLimitedText(ui->ID3artist, values.Artist, 30);
    ShowLimitedText(ui->ID3album, values.Album, 30);
    ShowLimitedText(ui->ID3year, values.Year, 4);
    ui->ID3genre->setCurrentIndex(values.Genre);
    ShowLimitedText(ui->ID3comment, values.Comment, 30);

    ui->ckbCDDb->setChecked(values.UseCddb);
    UpdateEnabled();
}

TOptionValues TOptionSetForm::ControlValues() const
{
    TOptionValues values;
    values.OutputFolder = ui->editOutputDir->text();
    values.DeleteWav = ui->ckbKeepWav->isChecked();
    values.OutputFormat = ui->cbOutputFormat->currentIndex();
    values.Normalize = ui->ckNormalize->isChecked();
    values.NormalizePercent = ui->SpinEdit1->value();
    values.EnableRipTime = ui->cbRipTime->isChecked();
    values.RipTimeText = ui->eRipTime->text();

    values.Mp3Vbr = ui->ckbSelectVBR->isChecked();
    values.Mp3NoVbrTag = ui->ckbVBRHead->isChecked();
    values.Mp3BitRateText = ui->cbBitRate->currentText();
    values.Mp3MaxBitRateText = ui->cbMaxBitRate->currentText();
    values.Mp3VbrQuality = ui->cbVBRQuality->currentIndex();
    values.Mp3Quality = ui->cbMpegQuality->currentIndex();
    values.Mp3StereoMode = ui->cbStereoMode->currentIndex();

    values.OggUseQuality = ui->cbUseCompress->isChecked();
    values.OggQuality = ui->tbCompression->value();
    values.OggNominalBitRate = ui->cbOggNomBit->currentIndex();
    values.OggMaxBitRate = ui->cbOggMaxBit->currentIndex();
    values.OggMinBitRate = ui->cbOggMinBit->currentIndex();

    values.WmaSetting = ui->cbWMABitrate->currentIndex();

    values.UseId3 = ui->cbUseID3->isChecked();
    values.Artist = ui->ID3artist->text();
    values.Album = ui->ID3album->text();
    values.Year = ui->ID3year->text();
    values.Genre = ui->ID3genre->currentIndex();
    values.Comment = ui->ID3comment->text();

    // -1 when the "CD-ROM" page was never shown: its list is filled only there.
    values.DriveIndex = ui->cbCDList->currentIndex();
    values.UseCddb = ui->ckbCDDb->isChecked();
    return values;
}

void TOptionSetForm::UpdateEnabled()
{
    ui->SpinEdit1->setEnabled(ui->ckNormalize->isChecked());
    ui->eRipTime->setEnabled(ui->cbRipTime->isChecked());
    const bool vbr = ui->ckbSelectVBR->isChecked();
    ui->ckbVBRHead->setEnabled(vbr);
    ui->cbMaxBitRate->setEnabled(vbr);
    ui->lbMaxBitRate->setEnabled(vbr);
    ui->cbVBRQuality->setEnabled(vbr);
    ui->lbVBRQuality->setEnabled(vbr);
    // With WAV output the WAV file is the result; there is nothing to delete.
    ui->ckbKeepWav->setEnabled(ui->cbOutputFormat->currentIndex() != 1);
    // Ogg is encoded either by quality or by the bit-rate manager, never both.
    const bool quality = ui->cbUseCompress->isChecked();
    ui->tbCompression->setEnabled(quality);
    ui->lbHighestQuality->setEnabled(quality);
    ui->gbBitrateManager->setEnabled(!quality);
}

void TOptionSetForm::ListDrives()
{
    // The list is made afresh each time the page is shown (a drive may have
    // come or gone); the user's choice stays while it is still in the list.
    const int wanted = ui->cbCDList->count() > 0 ? ui->cbCDList->currentIndex() : RememberedDrive;
    CDDriveList list{};
    list.MaxDrives = CDMaxDrives;
    GetCDList(&list);
    ui->cbCDList->clear();
    for (int i = 0; i < list.NumDrives; ++i)
        ui->cbCDList->addItem(DriveDisplayName(list.Drives[i]).trimmed());
    if (wanted >= 0 && wanted < ui->cbCDList->count())
        ui->cbCDList->setCurrentIndex(wanted);
    else
        ui->cbCDList->setCurrentIndex(-1);
}

void TOptionSetForm::Browse()
{
    const QString folder =
        Prompter.PickFolder(Translate(RES_Select_Directory), BrowseStart(ui->editOutputDir->text()));
    if (!folder.isEmpty())
        ui->editOutputDir->setText(QDir::cleanPath(folder));
}

void TOptionSetForm::LameDefaults()
{
    const TOptionValues defaults = OptionValuesOf(TAppSettings{}, TDiscInfo{});
    ui->ckbSelectVBR->setChecked(defaults.Mp3Vbr);
    ui->ckbVBRHead->setChecked(defaults.Mp3NoVbrTag);
    ShowBitRate(ui->cbBitRate, defaults.Mp3BitRateText);
    ShowBitRate(ui->cbMaxBitRate, defaults.Mp3MaxBitRateText);
    ui->cbVBRQuality->setCurrentIndex(defaults.Mp3VbrQuality);
    ui->cbMpegQuality->setCurrentIndex(defaults.Mp3Quality);
    ui->cbStereoMode->setCurrentIndex(defaults.Mp3StereoMode);
    UpdateEnabled();
}

void TOptionSetForm::WmaDefaults()
{
    ui->cbWMABitrate->setCurrentIndex(DefaultWmaSetting);
}

void TOptionSetForm::Ok()
{
    const TOptionValues values = ControlValues();
    TOptionField invalid = FirstInvalidOption(values);
    if (invalid == TOptionField::OutputFolder && !values.OutputFolder.trimmed().isEmpty()) {
        // A folder not made yet (a new installation's default among them) is
        // offered to be made, as Extract does, once nothing else is at fault.
        TOptionValues others = values;
        others.OutputFolder = QDir::rootPath();
        invalid = FirstInvalidOption(others);
        if (invalid == TOptionField::None && !AskToMakeOutputFolder(Prompter, values.OutputFolder)) {
            ShowField(ui->editOutputDir, ui->tsOutput);
            return;
        }
    }
    if (invalid != TOptionField::None) {
        Refuse(invalid, values);
        return;
    }
    StoreOptionValues(values, AppSettings(), DiscInfo());
    // A list without a choice is no request to close the drive in use.
    SwitchWanted = values.DriveIndex >= 0 && (OpenDrive < 0 || values.DriveIndex != RememberedDrive ||
                                              values.UseCddb != RememberedCddb);
    accept();
}

void TOptionSetForm::Refuse(TOptionField field, const TOptionValues& values)
{
    QWidget* control = nullptr;
    QWidget* page = nullptr;
    switch (field) {
    case TOptionField::OutputFolder:
        Prompter.Error(values.OutputFolder + QLatin1Char(',') + Translate(RES_Directory_Not_Exist));
        control = ui->editOutputDir;
        page = ui->tsOutput;
        break;
    case TOptionField::RipTime:
        Prompter.Error(Translate(RES_Rip_Time_Error));
        control = ui->eRipTime;
        page = ui->tsOutput;
        break;
    case TOptionField::Mp3BitRate:
    case TOptionField::Mp3MaxBitRate: {
        const bool minimum = field == TOptionField::Mp3BitRate;
        const QLabel* label = minimum ? ui->lbBitRate : ui->lbMaxBitRate;
        const QString& text = minimum ? values.Mp3BitRateText : values.Mp3MaxBitRateText;
        Prompter.Error(WithoutAccelerator(label->text()) + QStringLiteral(" \"") + text +
                       QStringLiteral("\"\n") + Translate(RES_Check_BitRate));
        control = minimum ? static_cast<QWidget*>(ui->cbBitRate) : ui->cbMaxBitRate;
        page = ui->tsLAME;
        break;
    }
    case TOptionField::None:
        return;
    }
    ShowField(control, page);
}

void TOptionSetForm::ShowField(QWidget* control, QWidget* page)
{
    // The user is taken to the field at fault, wherever the dialog stood.
    ui->PageControl1->setCurrentWidget(page);
    if (control->isEnabled())
        control->setFocus();
}
