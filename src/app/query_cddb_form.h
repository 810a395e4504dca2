#pragma once

#include "cd/cd_drive.h"
#include "cd/query_cddb.h"

#include <QDialog>
#include <memory>

namespace Ui {
class frmQueryCDDB;
}

// Where to look the disc up: the CDDB server, its query script and a proxy.
// Query keeps these in the settings and runs the lookup in TfrmStopQuery;
// when that ends, this window closes with FinishedResult and Result() holds
// what was found (which may be a failure: nothing is to be applied then).
class TfrmQueryCDDB final : public QDialog {
    Q_OBJECT

public:
    static constexpr int FinishedResult = 6;

    TfrmQueryCDDB(QWidget* parent, int firstTrack, int lastTrack, CDHandle drive);
    ~TfrmQueryCDDB() override;

    const TCddbLookupResult& Result() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void cbProxyClick();
    void bDefaultClick();
    void bQueryClick();

    std::unique_ptr<Ui::frmQueryCDDB> ui;
    const int FirstTrack;
    const int LastTrack;
    const CDHandle Drive;
    TCddbLookupResult Found;
};
