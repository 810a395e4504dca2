// Edit > Query Freedb as a user works it: the two CDDB windows over the main
// window, against a real CDDB server process on 127.0.0.1.
#include "app/drive_session.h"
#include "app/main_form.h"
#include "app/query_cddb_form.h"
#include "app/stop_query_form.h"
#include "core/disc_info.h"
#include "core/ini_file.h"
#include "core/settings.h"

#include "app_test_support.h"
#include "support/cddb_test_server.h"
#include "support/form_texts.h"
#include "support/scripted_prompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

// The demo disc in the drive and options.ini naming the server, so the main
// window reads it at start as a user's settings.
class TCddbWindowTest {
public:
    explicit TCddbWindowTest(const QString& server)
    {
        Test.UseDemoDisc();
        QDir().mkpath(Test.Home.File("Output"));
        Test.Home.Write("options.ini", "[QueryCDDB]\nServer=" + server.toUtf8() + "\n");
    }

    TAppTest Test;
    TScriptedPrompter Prompter;

    QStringList Titles(const TMainForm& form) const
    {
        QStringList titles;
        for (const TTrackRow& row : form.TrackRows())
            titles.append(row.Title);
        return titles;
    }
};

// Runs Query Freedb; inQuery works the query window.
void QueryFreedb(TMainForm& form, const std::function<void(QWidget*)>& inQuery)
{
    TModalAnswer answer(inQuery);
    form.findChild<QAction*>("aQueryCDDB")->trigger();
}

void ClickQuery(QWidget* dialog)
{
    EXPECT_EQ(dialog->objectName(), "frmQueryCDDB");
    dialog->findChild<QPushButton*>("bQuery")->click();
}

const QStringList DemoTitles{"Morning Tone", "Second Voice: \"Echo\"", "Blip", "Long Goodbye"};

} // namespace

TEST(CddbWindows, QueryFillsTheTitlesKeepsThemForTheDiscAndNamesTheFiles)
{
    TCddbTestServer server;
    TCddbWindowTest test(server.Address());
    const QString id = GetDiscId();
    {
        TMainForm form(&test.Prompter);
        std::vector<TJobRequest> jobs;
        form.SetJobRunner([&jobs](const TJobRequest& job) { jobs.push_back(job); });
        form.show();
        QCoreApplication::processEvents();
        auto* list = form.findChild<QTreeWidget*>("ListView1");
        list->topLevelItem(2)->setCheckState(0, Qt::Unchecked);
        list->setCurrentItem(list->topLevelItem(1));

        QueryFreedb(form, ClickQuery);
        EXPECT_EQ(test.Titles(form), DemoTitles);
        // Ticks and the selection are the user's and stay.
        EXPECT_EQ(list->topLevelItem(2)->checkState(0), Qt::Unchecked);
        EXPECT_EQ(list->currentItem(), list->topLevelItem(1));
        EXPECT_EQ(DiscInfo().Artist, "The Velbrook Players");
        EXPECT_EQ(DiscInfo().Album, "Synthesized Sketches");
        EXPECT_EQ(DiscInfo().Year, "2024");
        EXPECT_EQ(DiscInfo().Genre, 48);
        // Kept at once, not only when the window closes.
        TIniFile cache;
        ASSERT_TRUE(cache.Load(test.Test.Home.File("cdinfo.dat")));
        EXPECT_EQ(cache.ReadString(id, "2", ""), "Second Voice: \"Echo\"");
        EXPECT_EQ(cache.ReadString(id, "Artist", ""), "The Velbrook Players");

        form.findChild<QAction*>("ActionExtract")->trigger();
        ASSERT_EQ(jobs.size(), 1u);
        EXPECT_EQ(jobs[0].WorkList,
                  (QStringList{"01Morning Tone", "02Second Voice \"Echo\"", "04Long Goodbye"}));
        EXPECT_TRUE(test.Prompter.Messages().isEmpty());
        form.close();
    }
    // After a restart the disc shows what was found, and the server setting stayed.
    AppSettings() = TAppSettings{};
    DiscInfo() = TDiscInfo{};
    TMainForm again(&test.Prompter);
    again.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(test.Titles(again), DemoTitles);
    EXPECT_EQ(AppSettings().CddbServer, server.Address());
    again.close();
}

TEST(CddbWindows, NoMatchExplainsItselfAndLeavesTheQueryWindowOpen)
{
    QTemporaryDir answers;
    QFile noMatch(answers.filePath("no-match"));
    ASSERT_TRUE(noMatch.open(QIODevice::WriteOnly));
    noMatch.write("202 No match for disc ID 18002d04.\r\n");
    noMatch.close();
    TCddbTestServer server({"--query-answer", noMatch.fileName()});
    TCddbWindowTest test(server.Address());
    TMainForm form(&test.Prompter);
    form.show();
    QCoreApplication::processEvents();
    const QStringList before = test.Titles(form);
    bool panelSeen = false;
    bool queryStayed = false;
    QueryFreedb(form, [&](QWidget* query) {
        TModalAnswer inStop([&](QWidget* stop) {
            EXPECT_EQ(stop->objectName(), "frmStopQuery");
            EXPECT_EQ(stop->windowTitle(), "Query CDDB...");
            auto* panel = stop->findChild<QLabel*>("Panel1");
            panelSeen = QTest::qWaitFor([panel] { return panel->isVisible(); }, 30000);
            EXPECT_FALSE(stop->findChild<QLabel*>("lHint")->isVisible());
            EXPECT_FALSE(stop->findChild<QWidget*>("pbBusy")->isVisible());
            EXPECT_EQ(panel->text(), "No match found,perhaps:\n1.No information in CDDB server\n2.error CDDB "
                                     "options\n3.check the network");
            auto* button = stop->findChild<QPushButton*>("bStop");
            EXPECT_EQ(button->text(), "Close");
            button->click();
        });
        ClickQuery(query);
        queryStayed = query->isVisible();
        query->findChild<QPushButton*>("bClose")->click();
    });
    EXPECT_TRUE(panelSeen);
    EXPECT_TRUE(queryStayed);
    EXPECT_EQ(test.Titles(form), before);
    form.close();
}

TEST(CddbWindows, FailuresCloseBothWindowsAndChangeNothingButTheStatusText)
{
    quint16 closedPort = 0;
    {
        TCddbTestServer gone;
        closedPort = gone.Port();
    }
    TCddbTestServer failing({"--http-status", "503"});
    for (const QString& address : {QStringLiteral("127.0.0.1:%1").arg(closedPort), failing.Address()}) {
        SCOPED_TRACE(address.toStdString());
        TCddbWindowTest test(address);
        TMainForm form(&test.Prompter);
        form.show();
        QCoreApplication::processEvents();
        const QStringList before = test.Titles(form);
        bool queryClosed = false;
        QueryFreedb(form, [&](QWidget* query) {
            ClickQuery(query);
            queryClosed = !query->isVisible();
        });
        EXPECT_TRUE(queryClosed);
        EXPECT_EQ(test.Titles(form), before);
        EXPECT_EQ(DiscInfo().Artist, "");
        EXPECT_TRUE(form.StatusText().startsWith("CDDB lookup failed: the CDDB server " + address))
            << form.StatusText().toStdString();
        EXPECT_TRUE(test.Prompter.Messages().isEmpty());
        form.close();
    }
}

// Answers off the rails fill at most this disc's rows; what the cache holds
// for other discs (here with a byte that is not UTF-8) stays byte for byte.
TEST(CddbWindows, BadAnswersLeaveTheOtherDiscsInTheCache)
{
    QByteArray many = "DTITLE=Many / Titles\n";
    for (int i = 0; i < 200; ++i)
        many += "TTITLE" + QByteArray::number(i) + "=Title " + QByteArray::number(i) + "\n";
    static const char nul[] = "DTITLE=Nul\0Band / Nul Album\nTTITLE0=One\0Two\nTTITLE1=Fine\n";
    const QByteArray other = "[0a0b0c0d]\nArtist=Mot\xf6rhead\n1=Ace of Spades\n";
    for (const QByteArray& entry : {many, QByteArray(nul, sizeof nul - 1)}) {
        TCddbTestServer server;
        server.AddEntry("rock", "18002d04", entry); // the demo disc
        TCddbWindowTest test(server.Address());
        test.Test.Home.Write("cdinfo.dat", other + "\n");
        TMainForm form(&test.Prompter);
        form.show();
        QCoreApplication::processEvents();
        QueryFreedb(form, ClickQuery);
        const QStringList titles = test.Titles(form);
        if (entry == many) {
            EXPECT_EQ(titles, (QStringList{"Title 0", "Title 1", "Title 2", "Title 3"}));
        }
        for (const QString& title : titles)
            EXPECT_FALSE(title.contains(QChar(0))) << title.toStdString();
        form.close();
        EXPECT_TRUE(test.Test.Home.Read("cdinfo.dat").contains(other));
    }
}

TEST(CddbWindows, StopDuringASlowAnswerAppliesNothing)
{
    TCddbTestServer server({"--delay", "2"});
    TCddbWindowTest test(server.Address());
    TMainForm form(&test.Prompter);
    form.show();
    QCoreApplication::processEvents();
    const QStringList before = test.Titles(form);
    QueryFreedb(form, [&](QWidget* query) {
        TModalAnswer inStop([&](QWidget* stop) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return !server.Requests().isEmpty(); }, 30000));
            // Escape is the window manager's way to close it: it stops as Stop does.
            QTest::keyClick(stop, Qt::Key_Escape);
        });
        ClickQuery(query);
        EXPECT_TRUE(query->isVisible());
        QTest::qWait(2500); // the delayed answer would have come by now
        query->findChild<QPushButton*>("bClose")->click();
    });
    EXPECT_EQ(test.Titles(form), before);
    EXPECT_EQ(server.Requests().size(), 1);
    form.close();
}

TEST(CddbWindows, TheQueryWindowShowsAndKeepsTheSettings)
{
    TTempHome home;
    AppSettings().CddbServer = "127.0.0.1:8080";
    AppSettings().CddbScript = "/cgi-bin/cddb.cgi";
    AppSettings().CddbProxyAddress = "proxy.lan";
    AppSettings().CddbProxyPort = "3128";
    TfrmQueryCDDB dialog(nullptr, 1, 4, 0);
    ExpectEnglishFileCoversForm(&dialog);
    auto* server = dialog.findChild<QComboBox*>("cbServer");
    auto* proxy = dialog.findChild<QCheckBox*>("cbProxy");
    auto* address = dialog.findChild<QLineEdit*>("eAddress");
    auto* port = dialog.findChild<QLineEdit*>("ePort");
    EXPECT_EQ(server->count(), 12);
    EXPECT_EQ(server->itemText(0), TAppSettings{}.CddbServer);
    TModalAnswer work([&](QWidget*) {
        // A server of the user's own stays shown.
        EXPECT_EQ(server->currentText(), "127.0.0.1:8080");
        EXPECT_EQ(dialog.findChild<QLineEdit*>("eScript")->text(), "/cgi-bin/cddb.cgi");
        EXPECT_FALSE(address->isEnabled());
        proxy->click();
        EXPECT_TRUE(address->isEnabled() && port->isEnabled());
        EXPECT_EQ(address->text(), "proxy.lan");
        dialog.findChild<QPushButton*>("bDefault")->click();
        EXPECT_EQ(server->currentText(), "gnudb.gnudb.org");
        EXPECT_EQ(dialog.findChild<QLineEdit*>("eScript")->text(), "/~cddb/cddb.cgi");
        EXPECT_FALSE(proxy->isChecked() || address->isEnabled());
        EXPECT_EQ(address->text(), "proxy.lan"); // Default keeps the proxy's texts
        server->setEditText("127.0.0.1:1");
        proxy->click();
        port->setText("not a port");
        // The lookup fails at once (no drive), which closes the window too.
        dialog.findChild<QPushButton*>("bQuery")->click();
    });
    EXPECT_EQ(dialog.exec(), TfrmQueryCDDB::FinishedResult);
    EXPECT_EQ(dialog.Result().Outcome, TCddbLookupResult::TOutcome::Failed);
    EXPECT_EQ(AppSettings().CddbServer, "127.0.0.1:1");
    EXPECT_EQ(AppSettings().CddbScript, "/~cddb/cddb.cgi");
    EXPECT_TRUE(AppSettings().CddbUseProxy);
    EXPECT_EQ(AppSettings().CddbProxyAddress, "proxy.lan");
    EXPECT_EQ(AppSettings().CddbProxyPort, "not a port");

    TfrmStopQuery stop(nullptr, 1, 4, 0, TCddbOptions{}, "Close");
    ExpectEnglishFileCoversForm(&stop);
    EXPECT_FALSE(stop.windowFlags() & Qt::WindowCloseButtonHint);
}

// Row r of the entry is the r-th track of the disc, whatever number the disc's
// first track has; what the entry leaves out keeps its value.
TEST(CddbWindows, ALookupFillsTheRowsFromTheDiscsFirstTrackOn)
{
    TTempHome home;
    DiscInfo().Artist = "Typed Artist";
    DiscInfo().Year = "1970";
    TCddbLookupResult result;
    result.Entry.Album = "Found Album";
    result.Entry.Genre = -1;
    result.Entry.Titles = {QString("First"), std::nullopt, QString("Third"), QString("Beyond")};
    std::vector<TTrackRow> rows;
    for (int number : {3, 4, 5})
        rows.push_back({number, true, "Row " + QString::number(number), "00:10", "01.00"});

    TDriveSession session;
    for (TCddbLookupResult::TOutcome outcome :
         {TCddbLookupResult::TOutcome::Failed, TCddbLookupResult::TOutcome::NoMatch}) {
        result.Outcome = outcome;
        std::vector<TTrackRow> unchanged = rows;
        EXPECT_TRUE(session.ApplyLookup(result, 3, &unchanged));
        EXPECT_EQ(unchanged[0].Title, "Row 3");
        EXPECT_EQ(DiscInfo().Album, "");
    }
    result.Outcome = TCddbLookupResult::TOutcome::Found;
    EXPECT_TRUE(session.ApplyLookup(result, 3, &rows));
    EXPECT_EQ(rows[0].Title, "First");
    EXPECT_EQ(rows[1].Title, "Row 4");
    EXPECT_EQ(rows[2].Title, "Third");
    EXPECT_EQ(DiscInfo().Artist, "Typed Artist");
    EXPECT_EQ(DiscInfo().Album, "Found Album");
    EXPECT_EQ(DiscInfo().Year, "1970");
    EXPECT_EQ(DiscInfo().Genre, -1);
}
