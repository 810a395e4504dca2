#include "stop_query_form.h"

#include "core/language.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/translate_form.h"
#include "ui_stop_query_form.h"

#include <QTimer>

TfrmStopQuery::TfrmStopQuery(QWidget* parent, int firstTrack, int lastTrack, CDHandle drive,
                             const TCddbOptions& options, const QString& closeText)
    : QDialog(parent), ui(std::make_unique<Ui::frmStopQuery>()),
      Lookup(this, firstTrack, lastTrack, drive, options), CloseText(closeText)
{
    ui->setupUi(this);
    // No title-bar buttons: the lookup ends through Stop.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    ui->Panel1->hide();
    connect(ui->bStop, &QPushButton::clicked, this, &TfrmStopQuery::bStopClick);
}

TfrmStopQuery::~TfrmStopQuery() = default;

const TCddbLookupResult& TfrmStopQuery::Result() const
{
    return Found;
}

void TfrmStopQuery::showEvent(QShowEvent* event)
{
    if (!IsEnglish(AppSettings().Language))
        TranslateForm(this, AppSettings().Language);
    QDialog::showEvent(event);
    if (!Shown) {
        Shown = true;
        // Started once the window is on the screen, so an answer that comes at
        // once still finds it there to close.
        QTimer::singleShot(0, &Lookup, &TQueryCDDB::Start);
    }
}

bool TfrmStopQuery::event(QEvent* event)
{
    if (event->type() != WM_CDDBSTATE)
        return QDialog::event(event);
    // A message the lookup posted before Stop is not applied.
    if (Stopped)
        return true;
    const auto* message = static_cast<TMessageEvent*>(event);
    if (message->WParam() == 6) {
        ui->lHint->hide();
        ui->pbBusy->hide();
        ui->Panel1->show();
        ui->bStop->setText(CloseText);
        adjustSize();
    } else if (message->WParam() == 7) {
        Found = Lookup.Result();
        done(FinishedResult);
    }
    return true;
}

void TfrmStopQuery::bStopClick()
{
    Stopped = true;
    Lookup.Stop();
    QDialog::reject();
}

void TfrmStopQuery::reject()
{
    bStopClick();
}
