#include "ogg_player.h"

#include "audio/acs_exception.h"
#include "audio/audio_out.h"
#include "audio/sound_indicator.h"
#include "audio/stereo_balance.h"
#include "codecs/vorbis_in.h"
#include "core/helpers.h"
#include "core/language.h"
#include "core/messages.h"
#include "core/prompter.h"
#include "core/settings.h"
#include "core/translate_form.h"
#include "tools/player_icons.h"
#include "ui_ogg_player.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QTimer>

#include <cmath>

namespace {

const QEvent::Type ProgressEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type DoneEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Where the next file dialog opens: the folder of the last file played in this
// session.
QString& LastFolder()
{
    static QString folder;
    return folder;
}

QString MinutesAndSeconds(int seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

TfrmOggPlayer::TfrmOggPlayer(QWidget* owner, TPrompter& prompter)
    : QDialog(owner), ui(std::make_unique<Ui::frmOggPlayer>()), Prompter(prompter),
      VorbisIn1(std::make_unique<TVorbisIn>()), SoundIndicator1(std::make_unique<TSoundIndicator>()),
      StereoBalance1(std::make_unique<TStereoBalance>()), AudioOut1(std::make_unique<TAudioOut>()),
      Timer1(new QTimer(this)), Timer2(new QTimer(this))
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    VorbisIn1->setObjectName(QStringLiteral("VorbisIn1"));
    SoundIndicator1->setObjectName(QStringLiteral("SoundIndicator1"));
    StereoBalance1->setObjectName(QStringLiteral("StereoBalance1"));
    AudioOut1->setObjectName(QStringLiteral("AudioOut1"));
    VorbisIn1->SetStartSample(0);
    VorbisIn1->SetEndSample(-1);
    VorbisIn1->SetLoop(false);
    SoundIndicator1->AssignInput(VorbisIn1.get());
    StereoBalance1->AssignInput(SoundIndicator1.get());
    StereoBalance1->SetBalance(0.5f);
    AudioOut1->AssignInput(StereoBalance1.get());
    AudioOut1->SetSuspendWhenIdle(true);
    AudioOut1->SetBaseChannel(0);
    AudioOut1->SetVolume(255);
    // The worker's events come back to this window as posted events.
    AudioOut1->SetOnProgress(
        [this](TACSOutput* sender) { PostMessageEvent(this, ProgressEvent, sender->LastProgress(), 0); });
    AudioOut1->SetOnDone([this](TACSOutput*) { PostMessageEvent(this, DoneEvent, 0, 0); });
    AudioOut1->SetOnThreadException([this](TACSOutput*, const std::exception&) {
        // The run is over as after its end; the file stays as it was.
        PostMessageEvent(this, DoneEvent, 0, 0);
    });

    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(50);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &TfrmOggPlayer::DrawLevels);
    connect(Timer2, &QTimer::timeout, this, [this] {
        if (ElapsedMsValue < TotalSeconds * 1000) {
            ElapsedMsValue += 500;
            ShowElapsed();
        }
    });

    ui->Panel1->setStyleSheet(QStringLiteral("#Panel1 { background-color: rgb(187, 228, 98); }"));
    ui->Panel2->setStyleSheet(QStringLiteral("#Panel2 { background-color: black; }"));
    QFont timeFont = ui->lCurrentTime->font();
    timeFont.setPointSizeF(timeFont.pointSizeF() * 1.5);
    timeFont.setBold(true);
    for (QLabel* label : {ui->lCurrentTime, ui->Label1, ui->lTotalTime})
        label->setFont(timeFont);
    QFont nameFont = ui->lFileName->font();
    nameFont.setBold(true);
    ui->lFileName->setFont(nameFont);

    const QSize iconSize(20, 20);
    const struct {
        QPushButton* Button;
        TPlayerIcon Icon;
    } pictures[] = {
        {ui->BitBtn1, TPlayerIcon::Play}, {ui->BitBtn2, TPlayerIcon::Pause}, {ui->bStop, TPlayerIcon::Stop}};
    for (const auto& picture : pictures) {
        picture.Button->setIcon(PlayerIcon(picture.Icon));
        picture.Button->setIconSize(iconSize);
        picture.Button->setFixedSize(40, 30);
    }

    connect(ui->BitBtn1, &QPushButton::clicked, this, &TfrmOggPlayer::OpenAndPlay);
    connect(ui->BitBtn2, &QPushButton::clicked, this, &TfrmOggPlayer::PauseOrResume);
    connect(ui->bStop, &QPushButton::clicked, this, &TfrmOggPlayer::StopPlayback);
    connect(ui->bClose, &QPushButton::clicked, this, &QWidget::close);
    // Only the user's moves seek, not the progress the bar is set to.
    connect(ui->ScrollBar1, &QAbstractSlider::actionTriggered, this, [this] { Seek(); });
    connect(ui->TrackBar1, &QSlider::valueChanged, this,
            [this](int position) { StereoBalance1->SetBalance(static_cast<float>(position) / 10.0f); });

    ShowPlayingControls(false);
    Bitmap = QImage(ui->Image1->minimumSize(), QImage::Format_RGB32);
    ClearLevels(palette().color(QPalette::Window));
}

TfrmOggPlayer::~TfrmOggPlayer()
{
    // A run still going (the program is quitting) ends without posting here.
    AudioOut1->SetOnProgress({});
    AudioOut1->SetOnDone({});
    AudioOut1->SetOnThreadException({});
}

void TfrmOggPlayer::showEvent(QShowEvent* event)
{
    if (!IsEnglish(AppSettings().Language))
        TranslateForm(this, AppSettings().Language);
    QDialog::showEvent(event);
}

void TfrmOggPlayer::closeEvent(QCloseEvent* event)
{
    if (AudioOut1->Status() == osIdle) {
        event->accept();
        return;
    }
    // Playback stops first; the window closes when the run has ended.
    event->ignore();
    if (ClosingValue)
        return;
    ClosingValue = true;
    StopPlayback();
    for (QWidget* control : {static_cast<QWidget*>(ui->BitBtn1), static_cast<QWidget*>(ui->BitBtn2),
                             static_cast<QWidget*>(ui->bStop), static_cast<QWidget*>(ui->ScrollBar1)})
        control->setEnabled(false);
}

void TfrmOggPlayer::reject()
{
    // Escape closes the window the same way as the close box.
    close();
}

bool TfrmOggPlayer::event(QEvent* event)
{
    if (event->type() == ProgressEvent) {
        const auto* message = static_cast<TMessageEvent*>(event);
        if (!ui->ScrollBar1->isSliderDown())
            ui->ScrollBar1->setValue(static_cast<int>(message->WParam()));
        return true;
    }
    if (event->type() == DoneEvent) {
        Ended();
        return true;
    }
    return QDialog::event(event);
}

void TfrmOggPlayer::OpenAndPlay()
{
    const QStringList files = Prompter.OpenFiles(
        windowTitle(), StartFolder(), QStringLiteral("Sound file(*.ogg *.OGG);; Any file(*)"), false);
    if (files.isEmpty())
        return;
    LastFolder() = QFileInfo(files.front()).absolutePath();
    Play(files.front());
}

void TfrmOggPlayer::Play(const QString& path)
{
    if (AudioOut1->Status() != osIdle)
        return;
    try {
        VorbisIn1->SetFileName(path);
        if (path.right(4).toUpper() != QLatin1String(".OGG") || !VorbisIn1->IsValid()) {
            Prompter.Message(QStringLiteral("Ogg file is not valid."));
            return;
        }
        QString name = QFileInfo(path).fileName();
        if (name.right(4).toUpper() == QLatin1String(".OGG"))
            name.chop(4);
        ui->lFileName->setToolTip(name);
        ui->lFileName->setText(
            ui->lFileName->fontMetrics().elidedText(name, Qt::ElideMiddle, ui->lFileName->width()));
        AudioOut1->Run();
        if (AudioOut1->Status() == osIdle) {
            // The file could not be read after all; the run ended as it began.
            return;
        }
        const QString deviceError = AudioOut1->DeviceError();
        if (!deviceError.isEmpty()) {
            AudioOut1->Stop();
            Prompter.Error(Translate(RES_SoundDevice_Error) + deviceError);
            return;
        }
        ElapsedMsValue = 0;
        ShowElapsed();
        ClearLevels(Qt::black);
        SetTimers(true);
        ui->lSampleRate->setText(QString::number(VorbisIn1->GetSampleRate()) + QStringLiteral(" bps"));
        TotalSeconds = VorbisIn1->GetTotalTime();
        ui->lTotalTime->setText(MinutesAndSeconds(TotalSeconds));
        ui->ScrollBar1->setValue(0);
        ShowPlayingControls(true);
    } catch (const std::exception&) {
        // Nothing plays; the window stays as it was.
    }
}

void TfrmOggPlayer::Seek()
{
    if (AudioOut1->Status() == osIdle)
        return;
    const int position = ui->ScrollBar1->sliderPosition();
    VorbisIn1->SetPendingJump(position - AudioOut1->Progress());
    ElapsedMsValue = TotalSeconds * position * 10;
    ShowElapsed();
}

void TfrmOggPlayer::PauseOrResume()
{
    const TOutputStatus status = AudioOut1->Status();
    if (status == osRunning) {
        AudioOut1->Pause();
        SetTimers(false);
    } else if (status == osPaused) {
        AudioOut1->Resume();
        SetTimers(true);
    }
    ui->BitBtn2->setChecked(AudioOut1->Status() == osPaused);
}

void TfrmOggPlayer::StopPlayback()
{
    if (AudioOut1->Status() == osPaused)
        AudioOut1->Resume();
    AudioOut1->Stop();
    SetTimers(false);
    ui->BitBtn2->setChecked(false);
}

void TfrmOggPlayer::Ended()
{
    if (AudioOut1->Status() != osIdle)
        return;
    SetTimers(false);
    ShowPlayingControls(false);
    ClearLevels(Qt::black);
    if (ClosingValue)
        close();
}

void TfrmOggPlayer::SetTimers(bool on)
{
    for (QTimer* timer : {Timer1, Timer2}) {
        if (on)
            timer->start();
        else
            timer->stop();
    }
}

void TfrmOggPlayer::ShowPlayingControls(bool playing)
{
    ui->BitBtn1->setEnabled(!playing);
    ui->BitBtn2->setEnabled(playing);
    ui->BitBtn2->setChecked(false);
    ui->bStop->setEnabled(playing);
    ui->ScrollBar1->setEnabled(playing);
}

void TfrmOggPlayer::ShowElapsed()
{
    ui->lCurrentTime->setText(QString::number(ElapsedMsValue / 60000) + QLatin1Char(':') +
                              FormatTwoDigits((ElapsedMsValue / 1000) % 60));
}

void TfrmOggPlayer::DrawLevels()
{
    double levels[TSoundIndicator::Bands];
    // The sound comes in buffers, not every 50 ms: without a new one the bars
    // stay as they are rather than flicker to nothing.
    if (SoundIndicator1->GetLevels(levels) == 0)
        return;
    Bitmap.fill(Qt::black);
    QPainter painter(&Bitmap);
    painter.setPen(QPen(QColor(0, 128, 0), 4, Qt::SolidLine, Qt::FlatCap));
    const int bottom = Bitmap.height();
    const int step = Bitmap.width() / TSoundIndicator::Bands;
    for (int i = 0; i < TSoundIndicator::Bands; ++i) {
        const int x = step * i + 1;
        const int top = bottom - static_cast<int>(RoundHalfEven(levels[i]));
        if (top < bottom)
            painter.drawLine(x, bottom, x, top);
    }
    painter.end();
    ui->Image1->setPixmap(QPixmap::fromImage(Bitmap));
}

void TfrmOggPlayer::ClearLevels(const QColor& colour)
{
    Bitmap.fill(colour);
    ui->Image1->setPixmap(QPixmap::fromImage(Bitmap));
}

QString TfrmOggPlayer::StartFolder() const
{
    if (!LastFolder().isEmpty() && QFileInfo(LastFolder()).isDir())
        return LastFolder();
    const QString output = AppSettings().OutputFolder;
    return !output.isEmpty() && QFileInfo(output).isDir() ? output : QDir::homePath();
}
