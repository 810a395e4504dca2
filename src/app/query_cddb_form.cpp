#include "query_cddb_form.h"

#include "app/stop_query_form.h"
#include "core/language.h"
#include "core/settings.h"
#include "core/translate_form.h"
#include "ui_query_cddb_form.h"

namespace {

const QString DefaultScript = QStringLiteral("/~cddb/cddb.cgi");

} // namespace

TfrmQueryCDDB::TfrmQueryCDDB(QWidget* parent, int firstTrack, int lastTrack, CDHandle drive)
    : QDialog(parent), ui(std::make_unique<Ui::frmQueryCDDB>()), FirstTrack(firstTrack), LastTrack(lastTrack),
      Drive(drive)
{
    ui->setupUi(this);
    connect(ui->cbProxy, &QCheckBox::toggled, this, &TfrmQueryCDDB::cbProxyClick);
    connect(ui->bDefault, &QPushButton::clicked, this, &TfrmQueryCDDB::bDefaultClick);
    connect(ui->bQuery, &QPushButton::clicked, this, &TfrmQueryCDDB::bQueryClick);
    connect(ui->bClose, &QPushButton::clicked, this, &QDialog::reject);
}

TfrmQueryCDDB::~TfrmQueryCDDB() = default;

const TCddbLookupResult& TfrmQueryCDDB::Result() const
{
    return Found;
}

void TfrmQueryCDDB::showEvent(QShowEvent* event)
{
    // Translated before the settings are put in: the language file's texts of
    // the server box must not replace the server the user chose.
    if (!IsEnglish(AppSettings().Language))
        TranslateForm(this, AppSettings().Language);
    const TAppSettings& settings = AppSettings();
    const int listed = ui->cbServer->findText(settings.CddbServer, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (listed >= 0) {
        ui->cbServer->setCurrentIndex(listed);
    } else if (settings.CddbServer.trimmed().isEmpty()) {
        ui->cbServer->setCurrentIndex(0);
    } else {
        // A server the user typed stays the one shown (and asked).
        ui->cbServer->setCurrentIndex(-1);
        ui->cbServer->setEditText(settings.CddbServer);
    }
    ui->eScript->setText(settings.CddbScript);
    ui->cbProxy->setChecked(settings.CddbUseProxy);
    ui->eAddress->setText(settings.CddbProxyAddress);
    ui->ePort->setText(settings.CddbProxyPort);
    cbProxyClick();
    QDialog::showEvent(event);
}

void TfrmQueryCDDB::cbProxyClick()
{
    ui->eAddress->setEnabled(ui->cbProxy->isChecked());
    ui->ePort->setEnabled(ui->cbProxy->isChecked());
}

void TfrmQueryCDDB::bDefaultClick()
{
    ui->cbServer->setCurrentIndex(0);
    ui->eScript->setText(DefaultScript);
    ui->cbProxy->setChecked(false);
}

void TfrmQueryCDDB::bQueryClick()
{
    TAppSettings& settings = AppSettings();
    settings.CddbServer = ui->cbServer->currentText();
    settings.CddbScript = ui->eScript->text();
    settings.CddbUseProxy = ui->cbProxy->isChecked();
    settings.CddbProxyAddress = ui->eAddress->text();
    settings.CddbProxyPort = ui->ePort->text();
    QString closeText = ui->bClose->text();
    closeText.remove(QLatin1Char('&'));
    TfrmStopQuery stop(this, FirstTrack, LastTrack, Drive, CddbOptionsOfSettings(), closeText);
    if (stop.exec() != TfrmStopQuery::FinishedResult)
        return;
    Found = stop.Result();
    done(FinishedResult);
}
