#include "about_form.h"

#include "app/app_icons.h"
#include "app/library_versions.h"
#include "core/language.h"
#include "core/settings.h"
#include "core/translate_form.h"
#include "ui_about_form.h"

#include <QLabel>

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::frmAbout>())
{
    ui->setupUi(this);
    QFont productFont = ui->lbProduct->font();
    productFont.setPointSizeF(productFont.pointSizeF() * 2);
    productFont.setBold(true);
    ui->lbProduct->setFont(productFont);
    // The picture has no text to translate, so it stays out of the named controls.
    auto* picture = new QLabel(this);
    picture->setPixmap(ApplicationIcon().pixmap(64, 64));
    ui->headerLayout->insertWidget(0, picture);
    const QStringList libraries = LibraryVersions();
    ui->LibraryList->setPlainText(libraries.join(QLatin1Char('\n')));
    // As high as its lines, so the box has no empty space to scroll.
    const QFontMetrics metrics(ui->LibraryList->font());
    ui->LibraryList->setFixedHeight(metrics.lineSpacing() * (static_cast<int>(libraries.size()) + 1) +
                                    2 * ui->LibraryList->frameWidth());
    connect(ui->bOK, &QPushButton::clicked, this, &QDialog::accept);
}

TfrmAbout::~TfrmAbout() = default;

void TfrmAbout::showEvent(QShowEvent* event)
{
    if (!IsEnglish(AppSettings().Language))
        TranslateForm(this, AppSettings().Language);
    QDialog::showEvent(event);
}
