#include "about_form.h"

#include "app/app_icons.h"
#include "app/library_versions.h"
#include "core/language.h"
#include "core/settings.h"
#include "core/translate_form.h"
#include "ui_about_form.h"

#include <QLabel>

#include <algorithm>

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
    // As high as its lines and as wide as the longest, so nothing is hidden
    // behind a scroll bar.
    const QFontMetrics metrics(ui->LibraryList->font());
    int widest = 0;
    for (const QString& line : libraries)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    const int margins =
        2 * (ui->LibraryList->frameWidth() + static_cast<int>(ui->LibraryList->document()->documentMargin()));
    // A character's width and half a line to spare: the text edit's own
    // spacing around its lines is not told. Sized so, it needs no scroll bars,
    // and one that showed up would take the room of a line it then hides.
    ui->LibraryList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->LibraryList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->LibraryList->setMinimumWidth(widest + margins + 2 * metrics.averageCharWidth());
    ui->LibraryList->setFixedHeight(metrics.lineSpacing() * static_cast<int>(libraries.size()) + margins +
                                    metrics.lineSpacing() / 2);
    connect(ui->bOK, &QPushButton::clicked, this, &QDialog::accept);
}

TfrmAbout::~TfrmAbout() = default;

void TfrmAbout::showEvent(QShowEvent* event)
{
    if (!IsEnglish(AppSettings().Language))
        TranslateForm(this, AppSettings().Language);
    QDialog::showEvent(event);
}
