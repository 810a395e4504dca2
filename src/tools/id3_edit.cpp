#include "id3_edit.h"

#include "codecs/genre_list.h"
#include "core/language.h"
#include "core/prompter.h"
#include "core/settings.h"
#include "core/translate_form.h"
#include "ui_id3_edit.h"

#include <QDir>
#include <QFileInfo>
#include <QLayout>
#include <QRegularExpressionValidator>

#include <algorithm>

namespace {

// Upper-case names too: files copied from other systems often have them.
const QString Mp3Filter = QStringLiteral("Index files (*.mp3 *.MP3)");

// A button text as a picker's title: "&Load Tag..." gives "Load Tag".
QString PickerTitle(const QString& buttonText)
{
    QString title = buttonText;
    title.remove(QLatin1Char('&'));
    if (title.endsWith(QLatin1String("...")))
        title.chop(3);
    return title.trimmed();
}

// An action's caption and enabled state shown on a button that runs it.
void BindButton(QPushButton* button, QAction* action)
{
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
    QObject::connect(action, &QAction::changed, button, [button, action] {
        button->setText(action->text());
        button->setEnabled(action->isEnabled());
    });
    button->setText(action->text());
    button->setEnabled(action->isEnabled());
}

} // namespace

TfrmID3Edit::TfrmID3Edit(TPrompter& prompter, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::frmID3Edit>()), Prompter(prompter)
{
    ui->setupUi(this);
    ui->ID3genre->addItems(GenreNames());
    ui->ID3genre->setCurrentIndex(-1);
    // Digits only, typed or pasted.
    ui->ID3track->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), ui->ID3track));
    BindButton(ui->bSaveTag, ui->aSaveTag);
    BindButton(ui->bRemoveTag, ui->aRemoveTag);

    connect(ui->bLoadTag, &QPushButton::clicked, this, &TfrmID3Edit::LoadTag);
    connect(ui->aSaveTag, &QAction::triggered, this, &TfrmID3Edit::SaveTag);
    connect(ui->bSaveAS, &QPushButton::clicked, this, &TfrmID3Edit::SaveAs);
    connect(ui->aRemoveTag, &QAction::triggered, this, &TfrmID3Edit::RemoveTag);
    connect(ui->bClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &QWidget::windowTitleChanged, this, &TfrmID3Edit::UpdateActions);

    ShowCaption();
    UpdateActions();
}

TfrmID3Edit::~TfrmID3Edit() = default;

void TfrmID3Edit::showEvent(QShowEvent* event)
{
    if (!IsEnglish(AppSettings().Language)) {
        TranslateForm(this, AppSettings().Language);
        // The language file's caption is the bare one; the file stays named.
        ShowCaption();
    }
    // The style's own width leaves a long caption touching the frame: one width
    // for the whole column, with some room around the longest text.
    int width = 0;
    for (QPushButton* button : {ui->bLoadTag, ui->bSaveTag, ui->bSaveAS, ui->bRemoveTag, ui->bClose})
        width = std::max(width, button->sizeHint().width());
    for (QPushButton* button : {ui->bLoadTag, ui->bSaveTag, ui->bSaveAS, ui->bRemoveTag, ui->bClose})
        button->setMinimumWidth(width + 16);
    // The dialog was centred before its texts were put in; centre it again at
    // the size they give it.
    layout()->activate();
    if (QWidget* owner = parentWidget())
        move(owner->window()->frameGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

void TfrmID3Edit::UpdateActions()
{
    const bool fileChosen = windowTitle() != Translate(RES_ID3Edit_Caption);
    ui->aSaveTag->setEnabled(fileChosen);
    ui->aRemoveTag->setEnabled(fileChosen);
}

QString TfrmID3Edit::PickFile(const QString& command)
{
    QString folder = QFileInfo(CurrentFile).absolutePath();
    if (CurrentFile.isEmpty() || !QFileInfo(folder).isDir())
        folder = AppSettings().OutputFolder;
    if (!QFileInfo(folder).isDir())
        folder.clear();
    const QStringList files = Prompter.OpenFiles(PickerTitle(command), folder, Mp3Filter, false);
    return files.isEmpty() ? QString() : files.front();
}

void TfrmID3Edit::SetCurrentFile(const QString& path)
{
    CurrentFile = path;
    // Save Tag writes to the file the caption names, also after a load that
    // could not read it.
    Tag.FileName = path;
    ShowCaption();
}

void TfrmID3Edit::ShowCaption()
{
    const QString caption = Translate(RES_ID3Edit_Caption);
    setWindowTitle(CurrentFile.isEmpty()
                       ? caption
                       : caption + QStringLiteral(": ") + QDir::toNativeSeparators(CurrentFile));
}

void TfrmID3Edit::FillTag()
{
    Tag.SetTitle(ui->ID3title->text());
    Tag.SetArtist(ui->ID3artist->text());
    Tag.SetAlbum(ui->ID3album->text());
    Tag.SetYear(ui->ID3year->text());
    // No selection (-1) taken as a byte is 255, which means no genre.
    Tag.Genre = GenreFromListIndex(static_cast<uint8_t>(ui->ID3genre->currentIndex()));
    Tag.SetComment(ui->ID3comment->text());
    // An empty track field keeps the track number as it was read.
    const QString track = ui->ID3track->text();
    if (!track.isEmpty())
        Tag.SetTrack(static_cast<uint8_t>(track.toInt()));
}

void TfrmID3Edit::ShowFields(const Tid3tag& tag)
{
    ui->ID3title->setText(tag.Title);
    ui->ID3artist->setText(tag.Artist);
    ui->ID3album->setText(tag.Album);
    ui->ID3year->setText(tag.Year);
    ui->ID3genre->setCurrentIndex(ListIndexFromGenre(tag.Genre));
    ui->ID3comment->setText(tag.Comment);
    ui->ID3track->setText(QString::number(tag.Track));
}

void TfrmID3Edit::ClearFields()
{
    for (QLineEdit* edit : {ui->ID3title, ui->ID3artist, ui->ID3album, ui->ID3year, ui->ID3comment})
        edit->clear();
    ui->ID3genre->setCurrentIndex(-1);
    ui->ID3track->setText(QStringLiteral("0"));
}

void TfrmID3Edit::ForgetTag()
{
    const QString file = Tag.FileName;
    Tag = Tid3tag();
    Tag.FileName = file;
}

void TfrmID3Edit::ShowStored()
{
    Tid3tag stored;
    stored.FromBlock(Tag.ToBlock());
    ShowFields(stored);
}

void TfrmID3Edit::ShowSaveError(const QString& path)
{
    Prompter.Information(
        FileErrorMessage(Translate(RES_SaveTag_Error), QDir::toNativeSeparators(path), Tag.LastError.Text()));
}

void TfrmID3Edit::LoadTag()
{
    const QString path = PickFile(ui->bLoadTag->text());
    if (path.isEmpty())
        return;
    if (Tag.ReadTag(path) < 256) {
        ShowFields(Tag);
    } else {
        // A file without a tag, or one we cannot read: nothing of another
        // file's tag may be written into it.
        ForgetTag();
        ClearFields();
    }
    SetCurrentFile(path);
}

void TfrmID3Edit::SaveTag()
{
    FillTag();
    if (Tag.WriteTag(QStringLiteral("=")) >= 256) {
        ShowSaveError(CurrentFile);
        return;
    }
    ShowStored();
}

void TfrmID3Edit::SaveAs()
{
    const QString path = PickFile(ui->bSaveAS->text());
    if (path.isEmpty())
        return;
    FillTag();
    if (Tag.WriteTag(path) >= 256) {
        ShowSaveError(path);
        return;
    }
    SetCurrentFile(path);
    ShowStored();
}

void TfrmID3Edit::RemoveTag()
{
    if (Prompter.AskYesNo(Translate(RES_Ask_RemoveTag), TPrompter::TAnswer::No,
                          TPrompter::TIcon::Information) != TPrompter::TAnswer::Yes)
        return;
    if (Tag.RemoveTag() >= 256) {
        // The tag is still there, so the fields still show it.
        ShowSaveError(CurrentFile);
        return;
    }
    ForgetTag();
    ClearFields();
}
