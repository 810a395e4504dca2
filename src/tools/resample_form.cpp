#include "resample_form.h"

#include "core/language.h"
#include "core/prompter.h"
#include "core/res_strings.h"
#include "core/settings.h"
#include "core/translate_form.h"
#include "jobs/wav_convert_chain.h"
#include "ui_resample_form.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLayout>
#include <QLineEdit>

#include <optional>

namespace {

// The rates the command line takes too; outside them a typing slip ("441000")
// is far likelier than a wish.
constexpr int MinSampleRate = 1000;
constexpr int MaxSampleRate = 384000;

const QString WaveFilter = QStringLiteral("Wave Files (*.wav *.WAV)");

QString EncodingText(TWavType type)
{
    switch (type) {
    case wtPCM:
        return QStringLiteral("Raw PCM");
    case wtDVIADPCM:
        return QStringLiteral("DVI IMA ADPCM");
    case wtMSADPCM:
        return QStringLiteral("Microsoft ADPCM");
    case wtACM:
        return QStringLiteral("ACM");
    case wtUnsupported:
        break;
    }
    return {};
}

// The integer the text holds, blanks around it allowed ("  8000").
std::optional<int> IntegerValue(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

// Where the next file dialog opens: the folder of the last file chosen in
// this session.
QString& LastFolder()
{
    static QString folder;
    return folder;
}

} // namespace

TfrmResample::TfrmResample(QWidget* owner, TPrompter& prompter)
    : QDialog(owner), ui(std::make_unique<Ui::frmResample>()), Prompter(prompter),
      ConvertChain(std::make_unique<TWavConvertChain>())
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->bConvert->setDefault(true);

    // Rows of both groups line up: a plain label row is as high as a spin box.
    const int rowHeight = ui->SpinEdit1->sizeHint().height();
    for (QLabel* label : {ui->Label3, ui->lInputFileName, ui->Label1, ui->Label6, ui->Label2, ui->Label7,
                          ui->Label4, ui->Label8, ui->Label14, ui->Label15, ui->Label9, ui->lOutputFileName})
        label->setMinimumHeight(rowHeight);
    // Room for the longest encoding the input can have.
    ui->Label15->setMinimumWidth(ui->Label15->fontMetrics().horizontalAdvance(EncodingText(wtMSADPCM)));
    // Names are cut to their label, the whole path is in the hint.
    ui->lInputFileName->installEventFilter(this);
    ui->lOutputFileName->installEventFilter(this);
    // Bits per sample are 8 or 16: a typed value goes to the nearer one.
    connect(ui->SpinEdit3, &QSpinBox::editingFinished, this,
            [this] { ui->SpinEdit3->setValue(ui->SpinEdit3->value() < 12 ? 8 : 16); });

    connect(ui->bInputFile, &QPushButton::clicked, this, &TfrmResample::bInputFileClick);
    connect(ui->bOutputFile, &QPushButton::clicked, this, &TfrmResample::bOutputFileClick);
    connect(ui->bConvert, &QPushButton::clicked, this, &TfrmResample::bConvertClick);
    connect(ui->Button4, &QPushButton::clicked, this, &TfrmResample::reject);
    connect(ConvertChain.get(), &TWavConvertChain::Progress, this, &TfrmResample::WaveOut1Progress);
    connect(ConvertChain.get(), &TWavConvertChain::Finished, this, &TfrmResample::WaveOut1Done);
}

TfrmResample::~TfrmResample()
{
    // A conversion still going (the program is quitting) ends here, its
    // temporary removed, before the controls it reports to go away.
    ConvertChain->disconnect(this);
    ConvertChain->Stop();
}

void TfrmResample::showEvent(QShowEvent* event)
{
    if (!IsEnglish(AppSettings().Language)) {
        TranslateForm(this, AppSettings().Language);
        // The language file holds the labels' empty texts too; what was
        // chosen before the window showed is put back.
        ShowInputFormat();
        ShowFileName(ui->lOutputFileName, OutputPath);
    }
    FitSize();
    QDialog::showEvent(event);
}

bool TfrmResample::event(QEvent* event)
{
    const bool handled = QDialog::event(event);
    // Texts that grow later (a language, a label) widen the window again.
    if (event->type() == QEvent::LayoutRequest)
        FitSize();
    return handled;
}

void TfrmResample::FitSize()
{
    // A fixed border at the size the texts of the language need, at least
    // the window's own. The layout is brought up to date first, or it raises
    // the minimum above the maximum once it catches up.
    layout()->activate();
    const QSize size = QSize(491, 230).expandedTo(layout()->totalMinimumSize());
    if (minimumSize() != size || maximumSize() != size)
        setFixedSize(size);
}

bool TfrmResample::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize) {
        if (watched == ui->lInputFileName)
            ShowFileName(ui->lInputFileName, InputPath);
        else if (watched == ui->lOutputFileName)
            ShowFileName(ui->lOutputFileName, OutputPath);
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmResample::reject()
{
    if (ConvertChain->Running()) {
        ConvertChain->Stop();
        SetConverting(false);
    }
    QDialog::reject();
}

void TfrmResample::bInputFileClick()
{
    const QStringList files = Prompter.OpenFiles(QStringLiteral("Open"), StartFolder(), WaveFilter, false);
    if (files.isEmpty())
        return;
    const QString path = QFileInfo(files.first()).absoluteFilePath();
    LastFolder() = QFileInfo(path).absolutePath();
    TWaveIn& source = ConvertChain->WaveIn1;
    source.SetFileName(path);
    if (!source.IsValid()) {
        // The labels keep showing the input that is still chosen.
        source.SetFileName(InputPath);
        Prompter.Information(QDir::toNativeSeparators(path) + Translate(RES_Resample_NotWav));
        return;
    }
    InputPath = path;
    Shown.Channels = source.GetChannels();
    Shown.SampleRate = source.GetSampleRate();
    Shown.BitsPerSample = source.GetBitsPerSample();
    Shown.Encoding = EncodingText(source.GetWavType());
    ShowInputFormat();
}

void TfrmResample::bOutputFileClick()
{
    QString path = Prompter.SaveFile(QStringLiteral("Save As"), StartFolder(), WaveFilter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".wav");
    path = QFileInfo(path).absoluteFilePath();
    LastFolder() = QFileInfo(path).absolutePath();
    // Said now, before the question whether to replace it.
    if (IsInput(path)) {
        Prompter.Information(QDir::toNativeSeparators(path) + Translate(RES_Resample_Same));
        return;
    }
    if (QFileInfo::exists(path) &&
        Prompter.AskYesNo(QDir::toNativeSeparators(path) + Translate(RES_File_Exist), TPrompter::TAnswer::No,
                          TPrompter::TIcon::Question) != TPrompter::TAnswer::Yes)
        return;
    OutputPath = path;
    ShowFileName(ui->lOutputFileName, OutputPath);
}

void TfrmResample::bConvertClick()
{
    if (ConvertChain->Running())
        return;
    const QString rateText = ui->cbBitSamples->currentText();
    const std::optional<int> rate = IntegerValue(rateText);
    if (!rate) {
        Prompter.Error(QStringLiteral("'%1' is not a valid integer value").arg(rateText));
        return;
    }
    if (*rate < MinSampleRate || *rate > MaxSampleRate) {
        Prompter.Error(rateText.trimmed() + Translate(RES_Resample_Rate));
        return;
    }
    if (InputPath.isEmpty() || OutputPath.isEmpty()) {
        Prompter.Information(Translate(RES_Resample_Files));
        return;
    }
    // Writing the output would destroy the input before it is read; also
    // when one name is a link to the other.
    if (IsInput(OutputPath)) {
        Prompter.Information(QDir::toNativeSeparators(OutputPath) + Translate(RES_Resample_Same));
        return;
    }
    TWavConvertChain::TOutputFormat format;
    format.Channels = ui->SpinEdit1->value();
    format.SampleRate = *rate;
    format.BitsPerSample = ui->SpinEdit3->value();
    format.WavType = ui->ComboBox1->currentIndex() == 1 ? wtDVIADPCM : wtPCM;
    ui->ProgressBar1->setValue(0);
    const QString problem = ConvertChain->Convert(InputPath, OutputPath, format);
    if (!problem.isEmpty()) {
        Prompter.Error(Translate(RES_Save_Error) + QLatin1Char('\n') + problem);
        return;
    }
    SetConverting(true);
}

void TfrmResample::WaveOut1Progress(int percent)
{
    ui->ProgressBar1->setValue(percent);
}

void TfrmResample::WaveOut1Done(bool complete, const QString& error)
{
    SetConverting(false);
    ui->ProgressBar1->setValue(0);
    if (!complete)
        Prompter.Error(Translate(RES_Save_Error) + QLatin1Char('\n') + error);
}

void TfrmResample::ShowInputFormat()
{
    ShowFileName(ui->lInputFileName, InputPath);
    if (InputPath.isEmpty())
        return;
    ui->Label6->setText(QString::number(Shown.Channels));
    ui->Label7->setText(QString::number(Shown.SampleRate));
    ui->Label8->setText(QString::number(Shown.BitsPerSample));
    ui->Label15->setText(Shown.Encoding);
}

void TfrmResample::ShowFileName(QLabel* label, const QString& path)
{
    if (path.isEmpty())
        return;
    const QString name = QFileInfo(path).fileName();
    label->setText(label->fontMetrics().elidedText(name, Qt::ElideMiddle, label->contentsRect().width()));
    label->setToolTip(QDir::toNativeSeparators(path));
}

void TfrmResample::SetConverting(bool converting)
{
    // The files of a conversion stay as they are until it ends.
    ui->bConvert->setEnabled(!converting);
    ui->bInputFile->setEnabled(!converting);
    ui->bOutputFile->setEnabled(!converting);
}

bool TfrmResample::IsInput(const QString& path) const
{
    return !InputPath.isEmpty() && (path == InputPath || TWavConvertChain::SameFile(InputPath, path));
}

QString TfrmResample::StartFolder() const
{
    if (!LastFolder().isEmpty() && QFileInfo(LastFolder()).isDir())
        return LastFolder();
    // A folder that is not there would open the dialog on its parent with
    // its name typed in as the file's.
    if (QFileInfo(AppSettings().OutputFolder).isDir())
        return AppSettings().OutputFolder;
    return QDir::homePath();
}
