#include "no_device_hint.h"

#include "core/language.h"
#include "core/prompter.h"
#include "core/settings.h"
#include "core/translate_form.h"
#include "ui_no_device_hint.h"

#include <QLabel>
#include <QLayout>

namespace {

// A command-line option stays on one line: a word joiner after each of its
// hyphens takes away the line break that the hyphen would allow.
QString KeepOptionsWhole(const QString& text)
{
    constexpr QChar WordJoiner(0x2060);
    QString result;
    result.reserve(text.size() + 8);
    bool inOption = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isSpace())
            inOption = false;
        else if (c == QLatin1Char('-') && (i == 0 || text.at(i - 1).isSpace()))
            inOption = true;
        result += c;
        const bool joinerFollows = i + 1 < text.size() && text.at(i + 1) == WordJoiner;
        if (inOption && c == QLatin1Char('-') && !joinerFollows && i + 1 < text.size() &&
            !text.at(i + 1).isSpace())
            result += WordJoiner;
    }
    return result;
}

} // namespace

TfrmNoDeviceHint::TfrmNoDeviceHint(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::frmNoDeviceHint>())
{
    ui->setupUi(this);
    setWindowTitle(ProductName());
    connect(ui->bClose, &QPushButton::clicked, this, &QDialog::accept);
}

TfrmNoDeviceHint::~TfrmNoDeviceHint() = default;

void TfrmNoDeviceHint::showEvent(QShowEvent* event)
{
    if (!IsEnglish(AppSettings().Language))
        TranslateForm(this, AppSettings().Language);
    for (QLabel* label : findChildren<QLabel*>())
        label->setText(KeepOptionsWhole(label->text()));
    // The window takes the height its texts need in this language before it
    // appears, not one paint later.
    layout()->activate();
    QDialog::showEvent(event);
}
