#include "translate_form.h"

#include "ini_file.h"
#include "language.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>

namespace {

void VisitStatusBar(QStatusBar* bar, const QString& section, const std::function<void(TFormText&)>& visit)
{
    QList<QLabel*> panels = bar->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    if (panels.isEmpty()) {
        TFormText text{section, bar->objectName(), bar->currentMessage(),
                       [bar](const QString& t) { bar->showMessage(t); }};
        visit(text);
        return;
    }
    for (qsizetype i = 0; i < panels.size(); ++i) {
        QLabel* panel = panels[i];
        TFormText text{section, bar->objectName() + QStringLiteral("_Panel") + QString::number(i),
                       panel->text(), [panel](const QString& t) { panel->setText(t); }};
        visit(text);
    }
}

void VisitColumns(QAbstractItemView* view, const QString& section,
                  const std::function<void(TFormText&)>& visit)
{
    const QString prefix = view->objectName() + QStringLiteral("_Column");
    if (auto* tree = qobject_cast<QTreeWidget*>(view)) {
        QTreeWidgetItem* header = tree->headerItem();
        for (int i = 0; i < tree->columnCount(); ++i) {
            TFormText text{section, prefix + QString::number(i), header->text(i),
                           [header, i](const QString& t) { header->setText(i, t); }};
            visit(text);
        }
        return;
    }
    if (auto* table = qobject_cast<QTableWidget*>(view)) {
        for (int i = 0; i < table->columnCount(); ++i) {
            QTableWidgetItem* item = table->horizontalHeaderItem(i);
            if (!item) {
                item = new QTableWidgetItem;
                table->setHorizontalHeaderItem(i, item);
            }
            TFormText text{section, prefix + QString::number(i), item->text(),
                           [item](const QString& t) { item->setText(t); }};
            visit(text);
        }
        return;
    }
    QAbstractItemModel* model = view->model();
    if (!model)
        return;
    for (int i = 0; i < model->columnCount(); ++i) {
        TFormText text{section, prefix + QString::number(i), model->headerData(i, Qt::Horizontal).toString(),
                       [model, i](const QString& t) { model->setHeaderData(i, Qt::Horizontal, t); }};
        visit(text);
    }
}

void VisitObject(QObject* object, const QString& section, const QString& menuSection,
                 const std::function<void(TFormText&)>& visit)
{
    const QString name = object->objectName();
    if (name.isEmpty() || name.startsWith(QLatin1String("qt_")))
        return;
    // A tab bar's own scroll buttons carry names too; the tabs' captions are
    // visited with their page control.
    if (qobject_cast<QTabBar*>(object->parent()))
        return;
    if (auto* action = qobject_cast<QAction*>(object)) {
        if (action->isSeparator())
            return;
        TFormText text{menuSection, name, action->text(), [action](const QString& t) { action->setText(t); }};
        visit(text);
    } else if (auto* menu = qobject_cast<QMenu*>(object)) {
        TFormText text{menuSection, name, menu->title(), [menu](const QString& t) { menu->setTitle(t); }};
        visit(text);
    } else if (auto* label = qobject_cast<QLabel*>(object)) {
        if (qobject_cast<QStatusBar*>(label->parent()))
            return; // a status panel, visited with its bar
        TFormText text{section, name, label->text(), [label](const QString& t) { label->setText(t); }};
        visit(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(object)) {
        TFormText text{section, name, button->text(), [button](const QString& t) { button->setText(t); }};
        visit(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(object)) {
        TFormText text{section, name, group->title(), [group](const QString& t) { group->setTitle(t); }};
        visit(text);
    } else if (auto* combo = qobject_cast<QComboBox*>(object)) {
        if (combo->isEditable()) {
            TFormText text{section, name + QStringLiteral("_Text"), combo->currentText(),
                           [combo](const QString& t) { combo->setEditText(t); }};
            visit(text);
        }
        for (int i = 0; i < combo->count(); ++i) {
            TFormText text{section, name + QStringLiteral("_Item") + QString::number(i), combo->itemText(i),
                           [combo, i](const QString& t) { combo->setItemText(i, t); }};
            visit(text);
        }
    } else if (auto* bar = qobject_cast<QStatusBar*>(object)) {
        VisitStatusBar(bar, section, visit);
    } else if (auto* tabs = qobject_cast<QTabWidget*>(object)) {
        for (int i = 0; i < tabs->count(); ++i) {
            TFormText text{section, name + QStringLiteral("_Page") + QString::number(i), tabs->tabText(i),
                           [tabs, i](const QString& t) { tabs->setTabText(i, t); }};
            visit(text);
        }
    } else if (auto* view = qobject_cast<QAbstractItemView*>(object)) {
        VisitColumns(view, section, visit);
    }
}

} // namespace

void ForEachFormText(QWidget* window, const std::function<void(TFormText&)>& visit)
{
    if (!window)
        return;
    const QString section = window->objectName();
    const QString menuSection = QStringLiteral("Menu_") + section;
    TFormText caption{section, section, window->windowTitle(),
                      [window](const QString& t) { window->setWindowTitle(t); }};
    visit(caption);
    const QList<QObject*> objects = window->findChildren<QObject*>();
    for (QObject* object : objects)
        VisitObject(object, section, menuSection, visit);
}

void TranslateForm(QWidget* window, const QString& language)
{
    const QString path = LanguageFilePath(language);
    if (path.isEmpty() || !window)
        return;
    TIniFile ini;
    if (!ini.Load(path))
        return;
    ForEachFormText(window, [&ini](TFormText& text) {
        if (ini.HasKey(text.Section, text.Key))
            text.Apply(UnescapeLanguageText(ini.ReadString(text.Section, text.Key, text.Text)));
    });
}
