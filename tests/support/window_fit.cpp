#include "window_fit.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QMap>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextLayout>
#include <QWidget>

namespace {

QString Name(const QWidget* window, const QWidget* widget)
{
    const QString name = widget->objectName().isEmpty()
                             ? QString::fromLatin1(widget->metaObject()->className())
                             : widget->objectName();
    return window->objectName() + QLatin1Char('/') + name;
}

QString SizeText(QSize size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

QString Quoted(const QString& text)
{
    const QString line = text.simplified();
    return QLatin1Char('"') + (line.size() > 40 ? line.left(37) + QStringLiteral("...") : line) +
           QLatin1Char('"');
}

// The text's whitespace-separated word that holds position.
QString WordAt(const QString& text, qsizetype position)
{
    qsizetype start = position;
    while (start > 0 && !text.at(start - 1).isSpace())
        --start;
    qsizetype end = position;
    while (end < text.size() && !text.at(end).isSpace())
        ++end;
    return text.mid(start, end - start);
}

// A word-wrapped label's text laid out as the label paints it: the lines that
// run past the label's width, and the command-line options split over two lines.
void CheckWrappedLines(const QWidget* window, const QLabel* label, QStringList& problems)
{
    const QString text = label->text();
    const int width = label->contentsRect().width() - 2 * label->margin();
    QTextLayout layout(text, label->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        const qsizetype end = line.textStart() + line.textLength();
        if (line.naturalTextWidth() > width)
            problems << QStringLiteral("%1: a line of %2 is %3 pixels wide, the label %4")
                            .arg(Name(window, label), Quoted(text))
                            .arg(qCeil(line.naturalTextWidth()))
                            .arg(width);
        if (end > 0 && end < text.size() && !text.at(end - 1).isSpace() && !text.at(end).isSpace()) {
            const QString word = WordAt(text, end);
            if (word.startsWith(QLatin1Char('-')))
                problems << QStringLiteral("%1: the option %2 is split over two lines")
                                .arg(Name(window, label), word);
        }
    }
    layout.endLayout();
}

void CheckLabel(const QWidget* window, const QLabel* label, QStringList& problems)
{
    const QSize has = label->size();
    if (label->wordWrap()) {
        const int needs = label->heightForWidth(has.width());
        if (needs > has.height())
            problems << QStringLiteral("%1: %2 needs %3 pixels of height at width %4, has %5")
                            .arg(Name(window, label), Quoted(label->text()))
                            .arg(needs)
                            .arg(has.width())
                            .arg(has.height());
        CheckWrappedLines(window, label, problems);
        return;
    }
    const QSize needs = label->sizeHint();
    if (needs.width() > has.width() || needs.height() > has.height())
        problems << QStringLiteral("%1: %2 needs %3, has %4")
                        .arg(Name(window, label), Quoted(label->text()), SizeText(needs), SizeText(has));
}

void CheckHeader(const QWidget* window, const QHeaderView* header, QStringList& problems)
{
    const QAbstractItemModel* model = header->model();
    if (!model)
        return;
    for (int section = 0; section < header->count(); ++section) {
        if (header->isSectionHidden(section))
            continue;
        const QString caption = model->headerData(section, header->orientation()).toString();
        if (caption.isEmpty())
            continue;
        const int needs = header->sectionSizeHint(section);
        if (needs > header->sectionSize(section))
            problems << QStringLiteral("%1: column %2 %3 needs %4 pixels, has %5")
                            .arg(Name(window, header->parentWidget()))
                            .arg(section)
                            .arg(Quoted(caption))
                            .arg(needs)
                            .arg(header->sectionSize(section));
    }
}

} // namespace

QStringList TextFitProblems(QWidget* window)
{
    QStringList problems;
    QMap<const QWidget*, QList<const QWidget*>> byParent;
    for (const QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(window))
            continue;
        bool measured = false;
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            if (!label->text().trimmed().isEmpty()) {
                CheckLabel(window, label, problems);
                measured = true;
            }
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
            if (!button->text().isEmpty()) {
                const QSize needs = button->sizeHint();
                if (needs.width() > button->width() || needs.height() > button->height())
                    problems << QStringLiteral("%1: %2 needs %3, has %4")
                                    .arg(Name(window, button), Quoted(button->text()), SizeText(needs),
                                         SizeText(button->size()));
                measured = true;
            }
        } else if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
            if (!group->title().isEmpty()) {
                const int needs = group->minimumSizeHint().width();
                if (needs > group->width())
                    problems << QStringLiteral("%1: %2 needs %3 pixels of width, has %4")
                                    .arg(Name(window, group), Quoted(group->title()))
                                    .arg(needs)
                                    .arg(group->width());
            }
        } else if (const auto* header = qobject_cast<const QHeaderView*>(widget)) {
            CheckHeader(window, header, problems);
        } else if (const auto* box = qobject_cast<const QPlainTextEdit*>(widget)) {
            // A read-only text that the window sizes to fit shows it whole.
            if (box->isReadOnly() &&
                (box->horizontalScrollBar()->maximum() > 0 || box->verticalScrollBar()->maximum() > 0))
                problems << QStringLiteral("%1: its text needs scrolling in %2 (by %3x%4)")
                                .arg(Name(window, box), SizeText(box->size()))
                                .arg(box->horizontalScrollBar()->maximum())
                                .arg(box->verticalScrollBar()->maximum());
        }
        if (measured)
            byParent[widget->parentWidget()].append(widget);
    }
    for (const QList<const QWidget*>& siblings : byParent) {
        for (qsizetype i = 0; i < siblings.size(); ++i) {
            for (qsizetype j = i + 1; j < siblings.size(); ++j) {
                if (siblings[i]->geometry().intersects(siblings[j]->geometry()))
                    problems << QStringLiteral("%1 and %2 overlap")
                                    .arg(Name(window, siblings[i]), Name(window, siblings[j]));
            }
        }
    }
    return problems;
}

void ShowAsTheProgramDoes(QWidget* window)
{
    window->show();
    // Layouts settle through posted layout requests, which may post more.
    for (int round = 0; round < 5; ++round) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
    }
}
