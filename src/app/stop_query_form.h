#pragma once

#include "cd/query_cddb.h"

#include <QDialog>
#include <memory>

namespace Ui {
class frmStopQuery;
}

// The small window that runs a CDDB lookup and offers Stop. It closes itself
// with FinishedResult when the lookup has ended (found, failed or no titles);
// when the server knows no such disc it says so and Stop becomes Close.
class TfrmStopQuery final : public QDialog {
    Q_OBJECT

public:
    static constexpr int FinishedResult = 6;

    // closeText is what bStop says once the lookup found nothing.
    TfrmStopQuery(QWidget* parent, int firstTrack, int lastTrack, CDHandle drive, const TCddbOptions& options,
                  const QString& closeText);
    ~TfrmStopQuery() override;

    // What the lookup found; meaningful once the window closed with FinishedResult.
    const TCddbLookupResult& Result() const;

public slots:
    // Escape and the window manager's close stop the lookup as Stop does.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void bStopClick();

    std::unique_ptr<Ui::frmStopQuery> ui;
    TQueryCDDB Lookup;
    TCddbLookupResult Found;
    QString CloseText;
    bool Shown = false;
    bool Stopped = false;
};
