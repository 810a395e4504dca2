#include "record_form.h"

#include "audio/acs_exception.h"
#include "audio/wave_device.h"
#include "audio/wave_format.h"
#include "codecs/encoder_process.h"
#include "core/helpers.h"
#include "core/language.h"
#include "core/program_folder.h"
#include "core/prompter.h"
#include "core/res_strings.h"
#include "core/safe_files.h"
#include "core/settings.h"
#include "core/translate_form.h"
#include "jobs/job_engine.h"
#include "jobs/rip_form.h"
#include "tools/new_record_file.h"
#include "tools/player_icons.h"
#include "ui_record_form.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

const char* const NoNameFile = "MyNoName.wav";
const char* const WorkingFile = "MyTemp.wav";
const char* const Idle = "-----------";

QString SoundFilter()
{
    return QStringLiteral("Sound file(*.wav);;All files(*)");
}

// Copies a file into a private file beside target, which replaces target (a
// link itself, never what it leads to) only once all is written.
TFileError CopyWholeFile(const QString& from, const QString& target)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return TFileError(source.error() == QFileDevice::OpenError ? ENOENT : EIO);
    TPendingFile pending;
    if (const TFileError failed = pending.Begin(target))
        return failed;
    for (;;) {
        const QByteArray block = source.read(1 << 20);
        if (block.isEmpty()) {
            if (source.error() != QFileDevice::NoError)
                return TFileError(EIO);
            break;
        }
        if (const TFileError failed = WriteFully(pending.Handle(), block.constData(), block.size()))
            return failed;
    }
    return pending.Commit(TPendingFile::TReplace::Allowed);
}

// Moves a file: one rename on the same file system, a whole copy and then the
// removal of the original across file systems.
TFileError MoveWholeFile(const QString& from, const QString& target)
{
    if (const TFileError refused = CheckReplaceable(target))
        return refused;
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(target).constData()) == 0)
        return {};
    if (errno != EXDEV)
        return TFileError::FromErrno();
    if (const TFileError failed = CopyWholeFile(from, target))
        return failed;
    QFile::remove(from);
    return {};
}

QString WithReason(const QString& message, const TFileError& error)
{
    return message + QLatin1Char('\n') + error.Text();
}

} // namespace

QString FormatLength(qint64 milliseconds)
{
    if (milliseconds < 60000)
        return QString::number(static_cast<double>(milliseconds) / 1000.0, 'g', 3) + QStringLiteral(" Sec");
    QString text;
    const qint64 hours = milliseconds / 3600000;
    const qint64 minutes = milliseconds / 60000 % 60;
    const qint64 seconds = milliseconds / 1000 % 60;
    if (hours != 0)
        text += QString::number(hours) + QStringLiteral("Hour");
    if (minutes != 0)
        text += QString::number(minutes) + QStringLiteral(" Min");
    if (seconds != 0)
        text += QString::number(seconds) + QStringLiteral(" Sec");
    return text;
}

QStringList RecordingControlCommand()
{
    const QList<QStringList> candidates{
        {QStringLiteral("pavucontrol"), QStringLiteral("--tab=4")},
        {QStringLiteral("pwvucontrol")},
        {QStringLiteral("gnome-control-center"), QStringLiteral("sound")},
        {QStringLiteral("kcmshell6"), QStringLiteral("kcm_pulseaudio")},
    };
    for (const QStringList& candidate : candidates) {
        const QString program = QStandardPaths::findExecutable(candidate.front());
        if (!program.isEmpty())
            return QStringList{program} + candidate.mid(1);
    }
    return {};
}

TfrmRecord::TfrmRecord(QWidget* owner, TPrompter& prompter, TMp3EncodeProcess& mp3, TWMAEncodeProcess& wma)
    : QDialog(owner), ui(std::make_unique<Ui::frmRecord>()), Prompter(prompter), Mp3(mp3), Wma(wma),
      WaveDevice(std::make_unique<TWaveDevice>()), PopupMenu(new QMenu(this)), Timer1(new QTimer(this)),
      TimerRecord(new QTimer(this)), WorkingCopyValue(ProgramFile(QLatin1String(WorkingFile)))
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    WaveDevice->setObjectName(QStringLiteral("WaveDevice1"));

    const struct {
        QToolButton* Button;
        TPlayerIcon Icon;
    } pictures[] = {{ui->btPlay, TPlayerIcon::Play},    {ui->btStop, TPlayerIcon::Stop},
                    {ui->btNext, TPlayerIcon::Next},    {ui->btPrev, TPlayerIcon::Prev},
                    {ui->btStep, TPlayerIcon::Step},    {ui->btBack, TPlayerIcon::Back},
                    {ui->btRecord, TPlayerIcon::Record}};
    for (const auto& picture : pictures) {
        picture.Button->setIcon(PlayerIcon(picture.Icon));
        picture.Button->setIconSize(QSize(20, 20));
        picture.Button->setFixedSize(34, 30);
        picture.Button->setAutoRaise(false);
    }
    QFont timeFont = ui->panRecordTime->font();
    timeFont.setPointSizeF(timeFont.pointSizeF() * 1.5);
    timeFont.setBold(true);
    ui->panRecordTime->setFont(timeFont);
    QFont stateFont = ui->lbState->font();
    stateFont.setBold(true);
    ui->lbState->setFont(stateFont);

    for (QAction* item : {ui->miNew, ui->miOpen, ui->miSave, ui->miSaveAs})
        PopupMenu->addAction(item);
    PopupMenu->addAction(ui->miUndo);
    PopupMenu->addSeparator();
    PopupMenu->addAction(ui->miRecordingControl);
    PopupMenu->addAction(ui->miMp3Format);
    PopupMenu->addSeparator();
    PopupMenu->addAction(ui->miExit);
    ui->btStart->setMenu(PopupMenu);
    // The shortcuts work while the menu is closed too.
    addActions(PopupMenu->actions());
    connect(PopupMenu, &QMenu::aboutToShow, this, &TfrmRecord::UpdateMenu);
    ui->miMp3Format->setChecked(AppSettings().RecordToMp3);

    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    TimerRecord->setObjectName(QStringLiteral("TimerRecord"));
    TimerRecord->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &TfrmRecord::Timer1Tick);
    connect(TimerRecord, &QTimer::timeout, this, &TfrmRecord::TimerRecordTick);

    connect(ui->btPlay, &QToolButton::clicked, this, &TfrmRecord::PlayClicked);
    connect(ui->btStop, &QToolButton::clicked, this, &TfrmRecord::StopClicked);
    connect(ui->btNext, &QToolButton::clicked, this, &TfrmRecord::NextClicked);
    connect(ui->btPrev, &QToolButton::clicked, this, &TfrmRecord::PrevClicked);
    connect(ui->btRecord, &QToolButton::clicked, this, &TfrmRecord::RecordClicked);
    connect(ui->TrackBar1, &QSlider::valueChanged, this, &TfrmRecord::SliderMoved);

    connect(ui->miNew, &QAction::triggered, this, [this] {
        if (SaveIfModified(true))
            NewRecording();
    });
    connect(ui->miOpen, &QAction::triggered, this, [this] {
        if (SaveIfModified(true))
            OpenDialog();
    });
    connect(ui->miSave, &QAction::triggered, this, [this] { SaveIfModified(false); });
    connect(ui->miSaveAs, &QAction::triggered, this, &TfrmRecord::SaveAs);
    connect(ui->miUndo, &QAction::triggered, this, &TfrmRecord::Undo);
    connect(ui->miRecordingControl, &QAction::triggered, this, &TfrmRecord::RecordingControl);
    connect(ui->miExit, &QAction::triggered, this, &QWidget::close);

    NewFileAsker = [](TfrmNewRecordFile& dialog) { return dialog.exec() == 1; };
    JobRunner = [this](int kind, const QStringList& workList) {
        std::unique_ptr<TRipForm> jobWindow;
        try {
            jobWindow = std::make_unique<TRipForm>(this, Prompter, Mp3, Wma, kind, CDHandle{0}, workList);
        } catch (const EEncoderError& error) {
            Prompter.Error(error.Text());
            return;
        } catch (const EACSException& error) {
            Prompter.Error(error.Message());
            return;
        }
        jobWindow->exec();
    };
    SetEnabledButtons(0);
}

TfrmRecord::~TfrmRecord()
{
    // A window freed without closing (the program quits) still leaves no
    // working copy behind.
    if (!Closed) {
        WaveDevice->Close();
        if (EntryExists(WorkingCopyValue))
            QFile::remove(WorkingCopyValue);
    }
}

void TfrmRecord::showEvent(QShowEvent* event)
{
    if (!IsEnglish(AppSettings().Language))
        TranslateForm(this, AppSettings().Language);
    QDialog::showEvent(event);
}

void TfrmRecord::reject()
{
    close();
}

void TfrmRecord::closeEvent(QCloseEvent* event)
{
    AppSettings().RecordToMp3 = ui->miMp3Format->isChecked();
    Timer1->stop();
    // Cancel keeps the window and the recording.
    if (!SaveIfModified(true)) {
        event->ignore();
        return;
    }
    WaveDevice->Close();
    if (EntryExists(WorkingCopyValue))
        QFile::remove(WorkingCopyValue);
    Closed = true;
    event->accept();
}

bool TfrmRecord::Untitled() const
{
    return CurrentFileValue == ProgramFile(QLatin1String(NoNameFile));
}

bool TfrmRecord::Recording() const
{
    return WaveDevice->Mode() == TDeviceMode::Recording;
}

void TfrmRecord::SetEnabledButtons(int buttons)
{
    const struct {
        QToolButton* Button;
        TButton Bit;
    } all[] = {{ui->btPlay, btPlay}, {ui->btStop, btStop}, {ui->btNext, btNext},    {ui->btPrev, btPrev},
               {ui->btStep, btStep}, {ui->btBack, btBack}, {ui->btRecord, btRecord}};
    for (const auto& one : all)
        one.Button->setEnabled((buttons & one.Bit) != 0);
    UpdateMenu();
}

void TfrmRecord::UpdateMenu()
{
    const bool canSave = ui->btRecord->isEnabled();
    ui->miSave->setEnabled(canSave);
    ui->miSaveAs->setEnabled(canSave);
    ui->miUndo->setEnabled(ModifiedValue && ui->lbState->text() != Translate(RES_RecordingStr) &&
                           !Untitled() && !CurrentFileValue.isEmpty());
}

qint64 TfrmRecord::SliderPosition() const
{
    return WaveDevice->Length() * ui->TrackBar1->value() / 400;
}

void TfrmRecord::ShowLength()
{
    ui->lbLength->setText(FormatLength(WaveDevice->Length()));
}

void TfrmRecord::PlayClicked()
{
    if (ui->TrackBar1->value() == 400)
        ui->TrackBar1->setValue(0);
    if (!Timer1->isActive()) {
        PlayPosition = SliderPosition();
        QString error;
        if (!WaveDevice->Play(PlayPosition, &error)) {
            Prompter.Error(Translate(RES_SoundDevice_Error) + error);
            return;
        }
    }
    ui->lbState->setText(QStringLiteral("Playing..."));
    SetEnabledButtons(btStop | btNext | btPrev);
    Timer1->start();
}

void TfrmRecord::StopClicked()
{
    ui->TrackBar1->setValue(0);
    Timer1->stop();
    if (TimerRecord->isActive()) {
        // The recording goes on to the next whole second.
        if (LastMilliseconds > 100) {
            QElapsedTimer waited;
            waited.start();
            const qint64 wait = 1000 - LastMilliseconds;
            while (waited.elapsed() < wait) {
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
                QThread::msleep(5);
            }
        }
        TimerRecordTick();
        TimerRecord->stop();
    }
    SetEnabledButtons(btPlay | btNext | btPrev | btRecord);
    ui->lbState->setText(QLatin1String(Idle));
    if (Recording()) {
        WaveDevice->Stop();
        const TFileError failed = WaveDevice->Save();
        ui->TrackBar1->setValue(400);
        ShowLength();
        ui->lbState->setText(QStringLiteral("Record over!"));
        if (failed)
            Prompter.Error(WithReason(Translate(RES_Save_Error), failed));
    } else {
        WaveDevice->Stop();
    }
    UpdateMenu();
}

void TfrmRecord::NextClicked()
{
    Timer1->stop();
    WaveDevice->Seek(WaveDevice->Length());
    ui->lbState->setText(QLatin1String(Idle));
    ui->TrackBar1->setValue(400);
    SetEnabledButtons(btPlay | btPrev | btRecord);
}

void TfrmRecord::PrevClicked()
{
    Timer1->stop();
    WaveDevice->Seek(0);
    ui->lbState->setText(QLatin1String(Idle));
    ui->TrackBar1->setValue(0);
    SetEnabledButtons(btPlay | btNext | btRecord);
}

void TfrmRecord::RecordClicked()
{
    const qint64 from = EntryExists(WorkingCopyValue) ? SliderPosition() : -1;
    QString error;
    if (!WaveDevice->Record(from, &error)) {
        Prompter.Error(Translate(RES_MCI_Init_Fail) + QLatin1Char('\n') + error);
        return;
    }
    RecordStart.start();
    LastMilliseconds = 0;
    TimerRecord->start();
    ui->lbState->setText(Translate(RES_RecordingStr));
    ModifiedValue = true;
    SetEnabledButtons(btStop);
}

void TfrmRecord::Timer1Tick()
{
    PlayPosition += 500;
    const qint64 length = WaveDevice->Length();
    if (PlayPosition < length) {
        ui->TrackBar1->setValue(static_cast<int>(PlayPosition * 400 / length));
        return;
    }
    ui->TrackBar1->setValue(400);
    Timer1->stop();
    SetEnabledButtons(btPlay | btPrev | btRecord);
    ui->lbState->setText(QLatin1String(Idle));
}

void TfrmRecord::TimerRecordTick()
{
    ShowRecordTime();
}

void TfrmRecord::ShowRecordTime()
{
    const qint64 elapsed = RecordStart.isValid() ? RecordStart.elapsed() : 0;
    LastMilliseconds = static_cast<int>(elapsed % 1000);
    const qint64 seconds = elapsed / 1000;
    ui->panRecordTime->setText(QStringLiteral("%1:%2:%3.%4")
                                   .arg(FormatTwoDigits(static_cast<int>(seconds / 3600)),
                                        FormatTwoDigits(static_cast<int>(seconds / 60 % 60)),
                                        FormatTwoDigits(static_cast<int>(seconds % 60)))
                                   .arg(LastMilliseconds / 100));
}

void TfrmRecord::SliderMoved()
{
    const qint64 length = WaveDevice->Length();
    if (WaveDevice->IsOpen() && length > 0)
        ui->lbPosition->setText(FormatLength(length * ui->TrackBar1->value() / 400));
}

void TfrmRecord::NewRecording()
{
    TfrmNewRecordFile dialog(this);
    if (!NewFileAsker(dialog))
        return;
    CurrentFileValue = ProgramFile(QLatin1String(NoNameFile));
    WaveDevice->Close();
    // The working copy of an earlier file has no use for an untitled recording.
    if (EntryExists(WorkingCopyValue))
        QFile::remove(WorkingCopyValue);
    const QByteArray header = PcmWavHeader(dialog.Channels(), dialog.SampleRate(), dialog.BitsPerSample(), 0);
    TPendingFile pending;
    TFileError failed = pending.Begin(CurrentFileValue);
    if (!failed)
        failed = WriteFully(pending.Handle(), header.constData(), header.size());
    if (!failed)
        failed = pending.Commit(TPendingFile::TReplace::Allowed);
    QString error;
    if (failed)
        error = failed.Text();
    else if (WaveDevice->Open(CurrentFileValue, &error))
        SetEnabledButtons(btRecord);
    if (!error.isEmpty()) {
        SetEnabledButtons(0);
        Prompter.Error(Translate(RES_MCI_Init_Fail) + QLatin1Char('\n') + error);
    }
    ModifiedValue = false;
    ui->panRecordTime->setText(QStringLiteral("00:00:00.0"));
    ui->lbLength->setText(QStringLiteral("0.00 Sec"));
    ui->lbPosition->setText(QStringLiteral("0.00 Sec"));
    setWindowTitle(Translate(RES_TitleStr) + QLatin1Char('(') + Translate(RES_NoNameStr) + QLatin1Char(')'));
    ui->TrackBar1->setValue(0);
    Mp3DoneValue = false;
    UpdateMenu();
}

bool TfrmRecord::OpenRecording(const QString& path)
{
    CurrentFileValue = path;
    // The device lets go of the working copy before it is written.
    WaveDevice->Close();
    ModifiedValue = false;
    setWindowTitle(Translate(RES_TitleStr) + QLatin1Char('(') + path + QLatin1Char(')'));
    if (const TFileError failed = CopyWholeFile(path, WorkingCopyValue)) {
        SetEnabledButtons(0);
        Prompter.Error(FileErrorMessage(Translate(RES_MCI_Init_Fail), WorkingCopyValue, failed.Text()));
        return false;
    }
    QString error;
    if (!WaveDevice->Open(WorkingCopyValue, &error)) {
        SetEnabledButtons(0);
        Prompter.Error(FileErrorMessage(Translate(RES_MCI_Init_Fail), path, error));
        return false;
    }
    SetEnabledButtons(btPlay | btNext | btRecord);
    ui->lbState->setText(QLatin1String(Idle));
    ShowLength();
    return true;
}

void TfrmRecord::OpenDialog()
{
    for (;;) {
        const QStringList files = Prompter.OpenFiles(QStringLiteral("Please select a sound file to open"),
                                                     ProgramFolder(), SoundFilter(), false);
        if (files.isEmpty())
            return;
        const QString file = files.front();
        if (file == CurrentFileValue)
            return;
        if (QFile::exists(file)) {
            ui->TrackBar1->setValue(0);
            Mp3DoneValue = false;
            OpenRecording(file);
            return;
        }
        Prompter.Warning(file + QStringLiteral("\nCould not be found") + QChar(0xFF01) + QLatin1Char('\n') +
                         Translate(RES_Check_FileName));
    }
}

QString TfrmRecord::AskSaveName(bool* existed)
{
    const QString name = Prompter.SaveFile(QStringLiteral("Save As"), ProgramFolder(), SoundFilter());
    if (name.isEmpty())
        return {};
    if (!name.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive)) {
        Prompter.Information(Translate(RES_Wav_File));
        return {};
    }
    *existed = EntryExists(name);
    if (*existed && Prompter.AskYesNo(name + Translate(RES_File_Exist)) != TPrompter::TAnswer::Yes)
        return {};
    return name;
}

bool TfrmRecord::SaveIfModified(bool ask)
{
    if (CurrentFileValue.isEmpty())
        return true;
    if (ui->btStop->isEnabled())
        StopClicked();
    if (!ModifiedValue && !(Untitled() && !ask))
        return true;
    if (ModifiedValue && ask) {
        const QString name = Untitled() ? Translate(RES_NoNameStr) : CurrentFileValue;
        const TPrompter::TAnswer answer = Prompter.AskYesNoCancel(name + Translate(RES_Have_Modify));
        if (answer == TPrompter::TAnswer::Cancel)
            return false;
        if (answer == TPrompter::TAnswer::No) {
            ModifiedValue = false;
            return true;
        }
    }
    if (!Untitled()) {
        if (const TFileError failed = CopyWholeFile(WorkingCopyValue, CurrentFileValue)) {
            Prompter.Error(WithReason(Translate(RES_Save_Fail), failed));
            return false;
        }
        ModifiedValue = false;
        ConvertToMp3();
        return true;
    }
    bool existed = false;
    const QString chosen = AskSaveName(&existed);
    if (chosen.isEmpty())
        return false;
    if (existed) {
        if (const TFileError refused = CheckReplaceable(chosen)) {
            Prompter.Error(WithReason(Translate(RES_Delete_Fail), refused));
            return false;
        }
    }
    WaveDevice->Close();
    if (const TFileError failed = MoveWholeFile(CurrentFileValue, chosen)) {
        // The recording stays where it was, and usable.
        WaveDevice->Open(CurrentFileValue);
        Prompter.Error(WithReason(Translate(RES_Save_Fail), failed));
        return false;
    }
    if (EntryExists(WorkingCopyValue))
        QFile::remove(WorkingCopyValue);
    Mp3DoneValue = false;
    if (OpenRecording(chosen))
        ConvertToMp3();
    ModifiedValue = false;
    return true;
}

void TfrmRecord::SaveAs()
{
    if (CurrentFileValue.isEmpty())
        return;
    if (ui->btStop->isEnabled())
        StopClicked();
    bool existed = false;
    const QString chosen = AskSaveName(&existed);
    if (chosen.isEmpty())
        return;
    // What the user hears now is what is saved: the untitled file, or the
    // working copy with any recording not yet saved.
    const QString from = Untitled() ? CurrentFileValue : WorkingCopyValue;
    const bool untitled = Untitled();
    WaveDevice->Close();
    const TFileError failed = untitled ? MoveWholeFile(from, chosen) : CopyWholeFile(from, chosen);
    if (failed) {
        WaveDevice->Open(from);
        Prompter.Error(WithReason(Translate(RES_Save_Fail), failed));
        return;
    }
    Mp3DoneValue = false;
    if (OpenRecording(chosen))
        ConvertToMp3();
}

void TfrmRecord::Undo()
{
    if (Prompter.AskYesNo(Translate(RES_Discard_Modify)) != TPrompter::TAnswer::Yes)
        return;
    ui->TrackBar1->setValue(0);
    if (!OpenRecording(CurrentFileValue))
        return;
    ui->lbPosition->setText(FormatLength(WaveDevice->Length()));
    UpdateMenu();
}

void TfrmRecord::ConvertToMp3()
{
    if (!ui->miMp3Format->isChecked() || CurrentFileValue.isEmpty())
        return;
    QString target = CurrentFileValue;
    target.chop(4);
    target += QStringLiteral(".mp3");
    if (!Mp3DoneValue && EntryExists(target) &&
        Prompter.AskYesNo(target + Translate(RES_File_Exist)) != TPrompter::TAnswer::Yes)
        return;
    if (IsFileInUse(target)) {
        Prompter.Error(target + Translate(RES_File_Cannot_Create));
        return;
    }
    Mp3DoneValue = true;
    AppSettings().OutputFormat = 0;
    JobRunner(TJobEngine::RecorderToMp3, QStringList{CurrentFileValue});
}

void TfrmRecord::RecordingControl()
{
    const QStringList command = RecordingControlCommand();
    if (command.isEmpty()) {
        Prompter.Information(Translate(RES_No_Mixer));
        return;
    }
    if (!QProcess::startDetached(command.front(), command.mid(1)))
        Prompter.Error(Translate(RES_No_Mixer) + QLatin1Char('\n') + command.join(QLatin1Char(' ')));
}
