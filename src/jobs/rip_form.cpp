#include "rip_form.h"

#include "core/language.h"
#include "core/settings.h"
#include "core/translate_form.h"
#include "jobs/job_engine.h"
#include "ui_rip_form.h"

#include <QIcon>
#include <QStyle>
#include <algorithm>

TRipForm::TRipForm(QWidget* owner, TPrompter& prompter, TMp3EncodeProcess& mp3, TWMAEncodeProcess& wma,
                   int jobKind, CDHandle drive, const QStringList& workList)
    : QDialog(owner), ui(std::make_unique<Ui::RipForm>())
{
    ui->setupUi(this);
    const QIcon picture = QIcon::fromTheme(QStringLiteral("media-optical-audio"),
                                           style()->standardIcon(QStyle::SP_DriveCDIcon));
    ui->Image1->setPixmap(picture.pixmap(32, 32));
    Caption = windowTitle();
    GroupTitle = ui->GroupBox1->title();
    // "Initializing..." stays over the gauge until the first progress report.
    InitializingShown = true;
    connect(ui->btStop, &QPushButton::clicked, this, &TRipForm::StopJob);

    JobEngine = std::make_unique<TJobEngine>(*this, prompter, mp3, wma);
    JobEngine->Start(jobKind, drive, workList);

    ui->Label1->clear();
    ui->Label2->clear();
    ui->FlatGauge1->setTextVisible(false);
    PlaceOver(owner);
}

TRipForm::~TRipForm()
{
    // The engine stops and joins its workers before the controls it reports to
    // go away.
    Ended = true;
    JobEngine.reset();
}

TJobEngine& TRipForm::Engine()
{
    return *JobEngine;
}

void TRipForm::PlaceOver(const QWidget* owner)
{
    adjustSize();
    if (!owner)
        return;
    const QRect area = owner->frameGeometry();
    // Halves rounded toward zero, as integer division does.
    move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
}

void TRipForm::SetCaption(const QString& text)
{
    Caption = text;
    setWindowTitle(text);
}

void TRipForm::SetGroupTitle(const QString& text)
{
    GroupTitle = text;
    ui->GroupBox1->setTitle(text);
}

void TRipForm::SetElapsedText(const QString& text)
{
    ui->Label1->setText(text);
}

void TRipForm::SetEstimatedText(const QString& text)
{
    ui->Label2->setText(text);
}

void TRipForm::SetGauge(int percent)
{
    ui->FlatGauge1->setValue(std::clamp(percent, 0, 100));
}

int TRipForm::Gauge() const
{
    return ui->FlatGauge1->value();
}

void TRipForm::SetGaugeTextVisible(bool visible)
{
    ui->FlatGauge1->setTextVisible(visible);
}

void TRipForm::ShowInitializing(const QString& text)
{
    InitializingText = text;
    InitializingShown = true;
    ui->Label3->setText(text);
    ui->Label3->show();
}

void TRipForm::HideInitializing()
{
    InitializingShown = false;
    ui->Label3->hide();
}

void TRipForm::CloseView()
{
    if (Ended)
        return;
    Ended = true;
    if (isVisible())
        done(QDialog::Accepted);
    else // a job that ends before the modal loop starts must still end that loop
        QMetaObject::invokeMethod(
            this, [this] { done(QDialog::Accepted); }, Qt::QueuedConnection);
}

void TRipForm::StopJob()
{
    if (JobEngine && !JobEngine->Finished())
        JobEngine->Stop();
    Ended = true;
    if (isVisible())
        done(QDialog::Rejected);
}

void TRipForm::showEvent(QShowEvent* event)
{
    if (!IsEnglish(AppSettings().Language)) {
        TranslateForm(this, AppSettings().Language);
        setWindowTitle(Caption);
        ui->GroupBox1->setTitle(GroupTitle);
        if (!InitializingText.isEmpty())
            ui->Label3->setText(InitializingText);
        ui->Label3->setVisible(InitializingShown);
    }
    QDialog::showEvent(event);
}

void TRipForm::reject()
{
    StopJob();
}
