#include "main_form.h"

#include "app/about_form.h"
#include "app/app_icons.h"
#include "app/clear_history.h"
#include "app/edit_track_name.h"
#include "app/media_watcher.h"
#include "app/no_device_hint.h"
#include "app/option_set_form.h"
#include "app/query_cddb_form.h"
#include "app/volume_control.h"
#include "audio/acs_exception.h"
#include "cd/cd_player.h"
#include "codecs/mp3_encode_process.h"
#include "codecs/wma_encode_process.h"
#include "core/disc_info.h"
#include "core/language.h"
#include "core/messages.h"
#include "core/program_folder.h"
#include "core/prompter.h"
#include "core/qt_language.h"
#include "core/settings.h"
#include "core/translate_form.h"
#include "core/widget_prompter.h"
#include "jobs/rip_form.h"
#include "tools/id3_edit.h"
#include "tools/ogg_player.h"
#include "tools/record_form.h"
#include "tools/resample_form.h"
#include "ui_main_form.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <cstdio>
#include <ctime>
#include <utility>

namespace {

constexpr int TitleColumn = 1;
constexpr int NumberRole = Qt::UserRole;

// A menu text as a plain name: "&Options..." gives "Options".
QString CommandName(const QAction* action)
{
    QString name = action->text();
    name.replace(QLatin1String("&&"), QLatin1String("\x01"));
    name.remove(QLatin1Char('&'));
    name.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    if (name.endsWith(QLatin1String("...")))
        name.chop(3);
    return name.trimmed();
}

qint64 MonotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

TMainForm::TMainForm(TPrompter* prompter, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::MainForm>()),
      OwnPrompter(prompter ? nullptr : std::make_unique<TWidgetPrompter>(this)),
      Prompter(prompter ? *prompter : *OwnPrompter), JobCommands(Prompter),
      MediaWatcher(new TMediaWatcher(this)), MediaPlayer1(new TCDPlayer(this))
{
    LoadSettings();
    Mp3EncoderObject = std::make_unique<TMp3EncodeProcess>(this, Prompter);
    WmaEncoderObject = std::make_unique<TWMAEncodeProcess>(this, Prompter);
    NoAudioDisc = Playing = Paused = false;

    ui->setupUi(this);
    setWindowTitle(ProductName() + QLatin1Char(' ') + VersionText());
    QFont windowFont = font();
    windowFont.setPointSize(8);
    setFont(windowFont);
    // The window's colours; the layout keeps the list and the status bar 10
    // pixels in from the sides and the bottom.
    setStyleSheet(QStringLiteral("#centralwidget { background-color: rgb(214, 223, 247); }"
                                 "#ToolBar1 { background-color: rgb(228, 228, 255); }"
                                 "#ListView1 { background-color: rgb(239, 239, 255); }"
                                 "#StatusBar1 { background-color: rgb(220, 225, 255); }"));
    ui->ToolBar1->setAutoFillBackground(true);
    ui->StatusBar1->setAutoFillBackground(true);

    QHeaderView* header = ui->ListView1->header();
    header->setStretchLastSection(false);
    header->resizeSection(0, 90);
    header->resizeSection(1, 230);
    header->resizeSection(2, 100);
    header->resizeSection(3, 90);
    ui->ListView1->headerItem()->setTextAlignment(2, Qt::AlignCenter);
    ui->ListView1->headerItem()->setTextAlignment(3, Qt::AlignCenter);
    ui->ListView1->viewport()->installEventFilter(this);

    StatusPanel0 = new QLabel(ui->StatusBar1);
    StatusPanel1 = new QLabel(ui->StatusBar1);
    StatusPanel1->setFixedWidth(0);
    ui->StatusBar1->addWidget(StatusPanel0, 1);
    ui->StatusBar1->addWidget(StatusPanel1);

    ui->tbExtract->setIcon(ToolIcon(TToolIcon::Extract));
    ui->tbEncode->setIcon(ToolIcon(TToolIcon::Encode));
    ui->tbFolder->setIcon(ToolIcon(TToolIcon::Folder));
    ui->tbRecord->setIcon(ToolIcon(TToolIcon::Record));
    ui->tbOptions->setIcon(ToolIcon(TToolIcon::Options));
    ui->tbExit->setIcon(ToolIcon(TToolIcon::Exit));
    BindToolButton(ui->tbExtract, ui->ActionExtract);
    BindToolButton(ui->tbEncode, ui->ActionWavToMp3);
    BindToolButton(ui->tbFolder, ui->miOpenOutput);
    BindToolButton(ui->tbRecord, ui->ActionRecord);
    BindToolButton(ui->tbOptions, ui->ActionOptionSet);
    BindToolButton(ui->tbExit, ui->ActionExit);

    PopupMenu = new QMenu(this);
    PopupMenu->addAction(ui->ActionExtract);
    PopupMenu->addSeparator();
    PopupMenu->addAction(ui->ActionSelectAll);
    PopupMenu->addAction(ui->ActionNoSelect);
    PopupMenu->addSeparator();
    PopupMenu->addAction(ui->aPlay);
    PopupMenu->addAction(ui->aPause);
    PopupMenu->addAction(ui->aStop);
    PopupMenu->addSeparator();
    PopupMenu->addAction(ui->aEditTrackName);
    connect(ui->ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        UpdateActions();
        PopupMenu->popup(ui->ListView1->viewport()->mapToGlobal(position));
    });

    connect(ui->ActionExtract, &QAction::triggered, this, &TMainForm::Extract);
    connect(ui->ActionWavToMp3, &QAction::triggered, this,
            [this] { Convert(TConversion::WavToMp3, ui->ActionWavToMp3); });
    connect(ui->miMp3ToWav, &QAction::triggered, this,
            [this] { Convert(TConversion::Mp3ToWav, ui->miMp3ToWav); });
    connect(ui->miWavToOgg, &QAction::triggered, this,
            [this] { Convert(TConversion::WavToOgg, ui->miWavToOgg); });
    connect(ui->miWavToWma, &QAction::triggered, this,
            [this] { Convert(TConversion::WavToWma, ui->miWavToWma); });
    connect(ui->ActionExit, &QAction::triggered, this, &QWidget::close);
    connect(ui->ActionSelectAll, &QAction::triggered, this, [this] { SelectAll(true); });
    connect(ui->ActionNoSelect, &QAction::triggered, this, [this] { SelectAll(false); });
    connect(ui->aEditTrackName, &QAction::triggered, this, &TMainForm::RenameTitle);
    connect(ui->aQueryCDDB, &QAction::triggered, this, &TMainForm::QueryCDDB);
    connect(ui->aID3Edit, &QAction::triggered, this, &TMainForm::EditID3Tag);
    connect(ui->miOpenOutput, &QAction::triggered, this, &TMainForm::OpenOutputFolder);
    connect(ui->ActionOptionSet, &QAction::triggered, this, &TMainForm::OptionSet);
    connect(ui->miRefresh, &QAction::triggered, this, &TMainForm::Refresh);
    connect(ui->miEjectCD, &QAction::triggered, this, &TMainForm::EjectDisc);
    connect(ui->miCloseCD, &QAction::triggered, this, &TMainForm::CloseTray);
    connect(ui->miVolumeControl, &QAction::triggered, this, &TMainForm::VolumeControl);
    connect(ui->miOggPlayer, &QAction::triggered, this, &TMainForm::ShowOggPlayer);
    connect(ui->ActionRecord, &QAction::triggered, this, &TMainForm::ShowRecorder);
    connect(ui->miHelp, &QAction::triggered, this, &TMainForm::ShowHelp);
    connect(ui->miAbout, &QAction::triggered, this, &TMainForm::ShowAbout);
    connect(ui->miWavToWav, &QAction::triggered, this, &TMainForm::ShowResample);
    connect(ui->aPlay, &QAction::triggered, this, &TMainForm::PlayTrack);
    connect(ui->aPause, &QAction::triggered, this, &TMainForm::PauseTrack);
    connect(ui->aStop, &QAction::triggered, this, &TMainForm::StopTrack);
    connect(ui->miDesktopRecentFiles, &QAction::triggered, this, [this] { ClearHistory(false); });
    connect(ui->miVlcMediaPlayer, &QAction::triggered, this, [this] { ClearHistory(true); });
    // One language at a time, shown as a choice; none is ticked before the first showing.
    auto* languages = new QActionGroup(this);
    languages->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction* item : ui->miLanguage->actions()) {
        if (item->isSeparator())
            continue;
        languages->addAction(item);
        connect(item, &QAction::triggered, this, [this, item] { ChooseLanguage(item); });
    }

    connect(ui->ListView1, &QTreeWidget::itemChanged, this, &TMainForm::UpdateActions);
    connect(ui->ListView1, &QTreeWidget::itemSelectionChanged, this, &TMainForm::UpdateActions);
    connect(ui->ListView1, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (SelectedRow())
            RenameTitle();
    });
    for (QMenu* menu : {ui->File1, ui->Actions1, ui->Edit1})
        connect(menu, &QMenu::aboutToShow, this, &TMainForm::UpdateActions);

    MediaWatcher->setObjectName(QStringLiteral("MediaWatcher1"));
    MediaPlayer1->setObjectName(QStringLiteral("MediaPlayer1"));
    connect(MediaWatcher, &TMediaWatcher::MediaArrived, this, &TMainForm::MediaArrived);
    connect(MediaWatcher, &TMediaWatcher::MediaRemoved, this, &TMainForm::MediaRemoved);
    UpdateActions();
}

TMainForm::~TMainForm()
{
    // The player is a child, freed after the members: its worker ends before
    // the drive session closes the handle it reads.
    MediaPlayer1->Close();
}

CDHandle TMainForm::DriveHandle() const
{
    return Drive.DriveHandle;
}

QString TMainForm::DriveName() const
{
    return Drive.DriveName;
}

TMp3EncodeProcess& TMainForm::Mp3Encoder()
{
    return *Mp3EncoderObject;
}

TWMAEncodeProcess& TMainForm::WmaEncoder()
{
    return *WmaEncoderObject;
}

CDHandle TMainForm::OpenDrive(int position)
{
    TStatusText status;
    const CDHandle handle = Drive.OpenDrive(position, &status);
    ShowStatus(status);
    return handle;
}

void TMainForm::UseDrive(CDHandle handle)
{
    Drive.DriveHandle = handle;
    if (handle != 0)
        HintShown = false;
    WatchDrive();
}

bool TMainForm::HasAudioDisc()
{
    return Drive.HasAudioDisc();
}

void TMainForm::ReadDisc()
{
    if (DriveHandle() == 0)
        return;
    KeepListedTitles();
    std::vector<TTrackRow> rows;
    TStatusText status;
    ClearRows();
    const bool read = Drive.ReadDisc(&rows, &status);
    SetRows(rows);
    ShowStatus(status);
    if (read)
        NoAudioDisc = false;
}

std::vector<TTrackRow> TMainForm::TrackRows() const
{
    std::vector<TTrackRow> rows;
    for (int i = 0; i < ui->ListView1->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ui->ListView1->topLevelItem(i);
        TTrackRow row;
        row.Number = item->data(0, NumberRole).toInt();
        row.Ticked = item->checkState(0) == Qt::Checked;
        row.Title = item->text(TitleColumn);
        row.LengthText = item->text(2);
        row.SizeText = item->text(3);
        rows.push_back(row);
    }
    return rows;
}

QString TMainForm::StatusText() const
{
    return StatusPanel0->text();
}

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!Shown) {
        Shown = true;
        FirstShow();
        // The first showing counts as an activation even where no window
        // manager activates the window (a bare X server, focus rules).
        QTimer::singleShot(0, this, &TMainForm::Activated);
    }
}

void TMainForm::FirstShow()
{
    SettingsProblems = SettingsFileProblems();
    // Start-up always opens the first drive of the list, whichever the options
    // chose, so an image named on the command line is the drive in use.
    UseDrive(OpenDrive(0));
    if (DriveHandle() != 0) {
        if (HasAudioDisc())
            ReadDisc();
        else
            NoAudioDisc = true;
        SavedStatusText = StatusText();
    }
    // Also without a drive: users of disc images (and those whose drive is
    // busy) read the window and its hint in their language too.
    const QString language = AppSettings().Language;
    TickLanguageItem(language);
    ApplyQtLanguage(language);
    if (!IsEnglish(language)) {
        TranslateForm(this, language);
        ShowStatus(CurrentStatus);
    }
}

void TMainForm::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Activation runs once the event is done, so a window it shows does not
    // open inside the activation itself.
    if (event->type() == QEvent::ActivationChange && Shown && isActiveWindow())
        QTimer::singleShot(0, this, &TMainForm::Activated);
}

void TMainForm::Activated()
{
    if (!isVisible() || ShutDownDone)
        return;
    // Said over the window once it is up: such a file is neither read nor
    // replaced.
    for (const QString& problem : std::exchange(SettingsProblems, {}))
        Prompter.Warning(problem);
    if (DriveHandle() == 0) {
        // Closing the hint activates this window again: show it once for as
        // long as the drive is missing.
        if (!HintShown) {
            HintShown = true;
            TfrmNoDeviceHint hint(this);
            hint.exec();
        }
        return;
    }
    if (NoAudioDisc)
        ShowStatus(TStatusText::Message(RES_Check_CDRom));
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    ShutDown();
    event->accept();
}

void TMainForm::ShutDown()
{
    if (ShutDownDone)
        return;
    ShutDownDone = true;
    if (Mp3EncoderObject->ProcessActive())
        Mp3EncoderObject->Stop();
    if (WmaEncoderObject->ProcessActive())
        WmaEncoderObject->Stop();
    MediaWatcher->Watch(QString(), false);
    KeepListedTitles();
    // Before the drive's handle closes: no read of the player may reach it.
    MediaPlayer1->Close();
    Playing = Paused = false;
    if (DriveHandle() != 0 && !Drive.CloseDrive())
        Prompter.Error(Translate(RES_Close_CD_Error));
    SaveSettings();
}

bool TMainForm::event(QEvent* event)
{
    // Status tips have no place here: status panel 0 belongs to the program's
    // own texts, and a main-window status bar must not be made for them.
    if (event->type() == QEvent::StatusTip)
        return true;
    if (event->type() == MM_MCINOTIFY) {
        // Only a play that reached its end stops; after a failure Stop stays
        // available for the user.
        if (TPlayResult(static_cast<TMessageEvent*>(event)->WParam()) == TPlayResult::Successful)
            StopTrack();
        return true;
    }
    return QMainWindow::event(event);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->ListView1->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && (mouse->modifiers() & Qt::ControlModifier)) {
                // Ctrl+click ticks or unticks a row (a plain click on the box
                // does the same); the row becomes the selected one.
                if (QTreeWidgetItem* item = ui->ListView1->itemAt(mouse->position().toPoint())) {
                    ui->ListView1->setCurrentItem(item);
                    item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
                }
                return true;
            }
        } else if (event->type() == QEvent::Paint && !StartupTraced &&
                   ui->ListView1->topLevelItemCount() > 0 &&
                   qEnvironmentVariableIntValue("VELBROOK_TRACE_STARTUP")) {
            StartupTraced = true;
            // Printed once the paint that is starting has reached the screen.
            QTimer::singleShot(0, this, [this] {
                std::printf("velbrook: first paint with %d rows at monotonic %lld ns\n",
                            ui->ListView1->topLevelItemCount(),
                            static_cast<long long>(MonotonicNanoseconds()));
                std::fflush(stdout);
            });
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::ShowStatus(const TStatusText& status)
{
    CurrentStatus = status;
    StatusPanel0->setText(status.Text());
}

void TMainForm::SetRows(const std::vector<TTrackRow>& rows)
{
    QTreeWidget* list = ui->ListView1;
    const QSignalBlocker blocker(list);
    list->clear();
    for (const TTrackRow& row : rows) {
        auto* item = new QTreeWidgetItem(list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                       Qt::ItemNeverHasChildren);
        item->setData(0, NumberRole, row.Number);
        item->setText(0, QString::number(row.Number));
        item->setCheckState(0, row.Ticked ? Qt::Checked : Qt::Unchecked);
        item->setText(TitleColumn, row.Title);
        item->setText(2, row.LengthText);
        item->setText(3, row.SizeText);
        item->setTextAlignment(2, Qt::AlignCenter);
        item->setTextAlignment(3, Qt::AlignCenter);
    }
    UpdateActions();
}

void TMainForm::ClearRows()
{
    SetRows({});
}

QTreeWidgetItem* TMainForm::SelectedRow() const
{
    const QList<QTreeWidgetItem*> selected = ui->ListView1->selectedItems();
    return selected.isEmpty() ? nullptr : selected.front();
}

void TMainForm::UpdateActions()
{
    const std::vector<TTrackRow> rows = TrackRows();
    const bool anyTicked =
        std::any_of(rows.begin(), rows.end(), [](const TTrackRow& row) { return row.Ticked; });
    const bool selected = SelectedRow() != nullptr;
    ui->ActionExtract->setEnabled(anyTicked);
    ui->aQueryCDDB->setEnabled(!rows.empty());
    ui->aEditTrackName->setEnabled(selected);
    ui->aPlay->setEnabled(selected);
    ui->aPause->setEnabled(Playing && !Paused);
    ui->aStop->setEnabled(Playing);
}

void TMainForm::BindToolButton(QToolButton* button, QAction* action)
{
    // The button keeps its own caption (the language files name it apart from
    // the menu item) and follows the action's hint and enabled state.
    button->setToolTip(action->toolTip());
    button->setEnabled(action->isEnabled());
    connect(action, &QAction::changed, button, [button, action] { button->setEnabled(action->isEnabled()); });
    connect(button, &QToolButton::clicked, action, &QAction::trigger);
}

void TMainForm::TickLanguageItem(const QString& language)
{
    for (QAction* item : ui->miLanguage->actions()) {
        if (!item->isSeparator())
            item->setChecked(item->objectName().mid(2).compare(language, Qt::CaseInsensitive) == 0);
    }
}

void TMainForm::WatchDrive()
{
    bool isImage = false;
    const QString source = DriveHandle() != 0 ? CDHandleSource(DriveHandle(), &isImage) : QString();
    MediaWatcher->Watch(source, isImage);
}

void TMainForm::KeepListedTitles()
{
    // The titles typed for a disc stay in the cache when the list is read anew
    // or emptied, not only at shut-down.
    Drive.SaveTitles(TrackRows());
}

void TMainForm::Extract()
{
    const std::optional<TJobRequest> request = JobCommands.Extract(DriveHandle(), TrackRows(), [this] {
        if (ui->aStop->isEnabled())
            EndPlayback();
    });
    if (request)
        OpenJobWindow(*request);
}

void TMainForm::Convert(TConversion conversion, QAction* action)
{
    const std::optional<TJobRequest> request = JobCommands.Convert(conversion, CommandName(action));
    if (request)
        OpenJobWindow(*request);
}

void TMainForm::SetJobRunner(std::function<void(const TJobRequest&)> runner)
{
    JobRunner = std::move(runner);
}

void TMainForm::OpenJobWindow(const TJobRequest& request)
{
    emit JobRequested(request);
    if (JobRunner) {
        JobRunner(request);
        return;
    }
    std::unique_ptr<TRipForm> jobWindow;
    try {
        jobWindow = std::make_unique<TRipForm>(this, Prompter, Mp3Encoder(), WmaEncoder(), request.Kind,
                                               request.Drive, request.WorkList);
    } catch (const EEncoderError& error) {
        Prompter.Error(error.Text());
        return;
    } catch (const EACSException& error) {
        Prompter.Error(error.Message());
        return;
    }
    jobWindow->exec();
}

void TMainForm::SelectAll(bool ticked)
{
    QTreeWidget* list = ui->ListView1;
    {
        const QSignalBlocker blocker(list);
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            list->topLevelItem(i)->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
    }
    list->viewport()->update();
    UpdateActions();
}

void TMainForm::RenameTitle()
{
    QTreeWidgetItem* row = SelectedRow();
    if (!row)
        return;
    TfrmEditTrackName dialog(this);
    dialog.SetTitle(row->text(TitleColumn));
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (QTreeWidgetItem* selected = SelectedRow())
        selected->setText(TitleColumn, dialog.Title());
}

void TMainForm::Refresh()
{
    EndPlayback();
    if (HasAudioDisc()) {
        ReadDisc();
        if (CurrentStatus.IsMessage(RES_Check_CDRom))
            ShowStatus(TStatusText::Plain(DriveName()));
        return;
    }
    KeepListedTitles();
    ClearRows();
    Drive.ForgetListedDisc();
    ShowStatus(TStatusText::Message(RES_Check_CDRom));
}

void TMainForm::EjectDisc()
{
    EndPlayback();
    // Tray errors are not the user's business: an image has no tray, and a
    // drive that refuses simply stays as it is.
    if (DriveHandle() != 0 && CanEjectCD(DriveHandle()))
        ::EjectCD(DriveHandle());
}

void TMainForm::CloseTray()
{
    if (DriveHandle() != 0 && CanCloseCDTray(DriveHandle()))
        ::CloseCDTray(DriveHandle());
}

void TMainForm::OpenOutputFolder()
{
    const QString folder = AppSettings().OutputFolder;
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        Prompter.Error(folder + QLatin1Char(',') + Translate(RES_Directory_Not_Exist));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void TMainForm::OptionSet()
{
    TOptionSetForm dialog(Prompter, Drive.DrivePosition(), this);
    dialog.move(pos() + QPoint(50, 50));
    if (dialog.exec() == QDialog::Accepted && dialog.DriveSwitchWanted())
        SwitchDrive(dialog.SelectedDrive());
}

void TMainForm::SwitchDrive(int position)
{
    EndPlayback();
    // The titles typed for the disc listed now stay with that disc.
    KeepListedTitles();
    ClearRows();
    Drive.ForgetListedDisc();
    TStatusText status;
    UseDrive(Drive.SwitchDrive(position, &status));
    ShowStatus(status);
    ReadDisc();
    SavedStatusText = StatusText();
}

void TMainForm::VolumeControl()
{
    if (!StartVolumeControl())
        ShowStatus(TStatusText::Plain(
            QStringLiteral("No volume control found (pavucontrol, pwvucontrol, GNOME or KDE settings)")));
}

void TMainForm::QueryCDDB()
{
    CDTOC toc{};
    if (DriveHandle() == 0 || ReadTOC(DriveHandle(), &toc) != 1) {
        Prompter.Error(Translate(RES_ReadTocError));
        return;
    }
    TfrmQueryCDDB dialog(this, toc.FirstTrack, toc.LastTrack, DriveHandle());
    if (dialog.exec() != TfrmQueryCDDB::FinishedResult)
        return;
    ApplyLookup(dialog.Result(), toc.FirstTrack);
}

void TMainForm::ApplyLookup(const TCddbLookupResult& result, int firstTrack)
{
    using TOutcome = TCddbLookupResult::TOutcome;
    if (result.Outcome == TOutcome::Failed) {
        ShowStatus(TStatusText::Plain(QStringLiteral("CDDB lookup failed: ") + result.Problem));
        return;
    }
    std::vector<TTrackRow> rows = TrackRows();
    const bool kept = Drive.ApplyLookup(result, firstTrack, &rows);
    // The titles change in place, so ticks and the selection stay as they are.
    QTreeWidget* list = ui->ListView1;
    {
        const QSignalBlocker blocker(list);
        for (int i = 0; i < list->topLevelItemCount() && i < int(rows.size()); ++i)
            list->topLevelItem(i)->setText(TitleColumn, rows[size_t(i)].Title);
    }
    list->headerItem()->setTextAlignment(TitleColumn, Qt::AlignLeft | Qt::AlignVCenter);
    if (!kept)
        ShowStatus(
            TStatusText::Plain(QStringLiteral("The titles could not be written to ") + DiscInfoFilePath()));
    else if (result.Outcome == TOutcome::NoTitles)
        ShowStatus(TStatusText::Plain(QStringLiteral("CDDB found no track titles: ") + result.Problem));
}

void TMainForm::EditID3Tag()
{
    TfrmID3Edit editor(Prompter, this);
    editor.exec();
}

void TMainForm::ChooseLanguage(QAction* item)
{
    const QString language = item->objectName().mid(2);
    const QString path = LanguageFilePath(language);
    if (path.isEmpty()) {
        // The item ticked itself when clicked; the language stays as it was.
        TickLanguageItem(AppSettings().Language);
        Prompter.Message(ProgramFile(LanguageFileName(language)) + QStringLiteral(" can not be found."));
        return;
    }
    AppSettings().Language = language;
    TickLanguageItem(language);
    TranslateForm(this, language);
    ApplyQtLanguage(language);
    // Status texts are not window texts: show the current one in the new language.
    ShowStatus(CurrentStatus);
}

void TMainForm::ShowOggPlayer()
{
    std::unique_ptr<TfrmOggPlayer> player;
    try {
        player = std::make_unique<TfrmOggPlayer>(this, Prompter);
    } catch (const EACSException& error) {
        // The Ogg Vorbis libraries are missing: the status bar says which.
        ShowStatus(TStatusText::Plain(error.Message()));
        return;
    }
    player->exec();
}

void TMainForm::ShowRecorder()
{
    TfrmRecord recorder(this, Prompter, Mp3Encoder(), WmaEncoder());
    recorder.exec();
}

void TMainForm::ShowHelp()
{
    const QString help = FindDataFile(QStringLiteral("velbrook-help.html"));
    if (help.isEmpty()) {
        ShowStatus(TStatusText::Plain(QStringLiteral("The help page velbrook-help.html is missing")));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(help));
}

void TMainForm::ShowResample()
{
    TfrmResample resample(this, Prompter);
    resample.exec();
}

void TMainForm::ShowAbout()
{
    TfrmAbout about(this);
    about.exec();
}

void TMainForm::MediaArrived()
{
    if (DriveHandle() == 0)
        return;
    // The disc that was playing may be gone, or the handle opened afresh.
    EndPlayback();
    bool isImage = false;
    CDHandleSource(DriveHandle(), &isImage);
    if (isImage) {
        // A disc image that came back may hold another disc: the drive reads it
        // afresh only when opened again.
        KeepListedTitles();
        ClearRows();
        Drive.ForgetListedDisc();
        TStatusText status;
        Drive.ReopenDrive(&status);
        ShowStatus(status);
        if (DriveHandle() == 0) {
            MediaWatcher->Watch(QString(), false);
            return;
        }
    }
    // A data disc is no disc to list.
    if (HasAudioDisc()) {
        ReadDisc();
        return;
    }
    KeepListedTitles();
    ClearRows();
    Drive.ForgetListedDisc();
    ShowStatus(TStatusText::Message(RES_Check_CDRom));
}

void TMainForm::MediaRemoved()
{
    EndPlayback();
    KeepListedTitles();
    ClearRows();
    Drive.ForgetListedDisc();
    ShowStatus(TStatusText::Message(RES_Check_CDRom));
}

void TMainForm::PlayTrack()
{
    QTreeWidgetItem* row = SelectedRow();
    if (!row)
        return;
    ShowStatus(TStatusText::Plain(Translate(RES_Play) + row->text(TitleColumn)));
    const bool running = ui->aStop->isEnabled();
    const bool notPaused = ui->aPause->isEnabled();
    Playing = true;
    Paused = false;
    // Device errors never reach the user: a play that fails leaves Stop
    // available while nothing sounds.
    if (!running || notPaused)
        PlaySelectedRow();
    else if (!MediaPlayer1->Resume())
        PlaySelectedRow();
    UpdateActions();
}

void TMainForm::PlaySelectedRow()
{
    QTreeWidgetItem* row = SelectedRow();
    if (!row || DriveHandle() == 0)
        return;
    MediaPlayer1->Close();
    if (!MediaPlayer1->Open(DriveHandle()))
        return;
    // Rows are numbered by their track numbers, which need not start at 1.
    QTreeWidget* list = ui->ListView1;
    const int index = list->indexOfTopLevelItem(row);
    const qint64 start = MediaPlayer1->TrackPosition(row->data(0, NumberRole).toInt());
    qint64 end = -1;
    if (index + 1 < list->topLevelItemCount())
        end = MediaPlayer1->TrackPosition(list->topLevelItem(index + 1)->data(0, NumberRole).toInt());
    MediaPlayer1->Play(start, end, this);
}

void TMainForm::PauseTrack()
{
    Paused = true;
    if (MediaPlayer1->Mode() == TPlayerMode::Paused)
        MediaPlayer1->Resume();
    else
        MediaPlayer1->Pause();
    UpdateActions();
}

void TMainForm::StopTrack()
{
    Playing = Paused = false;
    if (MediaPlayer1->Stop())
        MediaPlayer1->Close();
    ShowStatus(TStatusText::Plain(SavedStatusText));
    UpdateActions();
}

void TMainForm::EndPlayback()
{
    if (Playing)
        StopTrack();
    MediaPlayer1->Close();
}

void TMainForm::ClearHistory(bool vlc)
{
    if (vlc && VlcIsRunning() &&
        Prompter.AskYesNo(Translate(RES_VLC_Running), TPrompter::TAnswer::No,
                          TPrompter::TIcon::Information) != TPrompter::TAnswer::Yes)
        return;
    const THistoryResult result = vlc ? ClearVlcRecentMedia() : ClearDesktopRecentFiles();
    if (!result.Problem.isEmpty()) {
        Prompter.Error(result.Problem);
        return;
    }
    Prompter.Information(QString::number(result.Removed) + Translate(RES_Clear_History));
}
