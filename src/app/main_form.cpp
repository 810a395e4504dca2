#include "main_form.h"

#include "core/settings.h"
#include "ui_main_form.h"

#include <QCloseEvent>
#include <QHeaderView>

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent), ui(std::make_unique<Ui::MainForm>())
{
    LoadSettings();
    ui->setupUi(this);
    QHeaderView* header = ui->ListView1->header();
    header->resizeSection(0, 90);
    header->resizeSection(1, 230);
    header->resizeSection(2, 100);
    header->resizeSection(3, 90);
    ui->ListView1->headerItem()->setTextAlignment(2, Qt::AlignCenter);
    ui->ListView1->headerItem()->setTextAlignment(3, Qt::AlignCenter);
}

TMainForm::~TMainForm() = default;

void TMainForm::closeEvent(QCloseEvent* event)
{
    SaveSettings();
    event->accept();
}
