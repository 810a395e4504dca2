#pragma once

#include "cd/cd_drive.h"
#include "cd/cddb_entry.h"
#include "cd/cddb_protocol.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

// Where and as whom a lookup asks.
struct TCddbOptions {
    QString Server; // "host", "host:port" or an http:// address
    QString Script;
    bool UseProxy = false;
    QString ProxyAddress;
    QString ProxyPort; // as typed; not a port number means 80
    QString User = QStringLiteral("velbrook@localhost");
    QString Client = QStringLiteral("program 1.0");
};

// The QueryCDDB settings of AppSettings.
TCddbOptions CddbOptionsOfSettings();

// What a lookup found.
struct TCddbLookupResult {
    enum class TOutcome {
        Running,
        Found,    // an entry with track titles
        NoTitles, // entries, but none with track titles (or none readable)
        NoMatch,  // the server knows no such disc
        Failed,   // no answer, or an error instead of one
    };
    TOutcome Outcome = TOutcome::Running;
    // Disc fields of every entry read, the later overriding the earlier; the
    // titles of the entry that has them (Found only).
    TCddbEntry Entry;
    // The entry the titles come from ("rock 1a2b3c04"), or what went wrong.
    QString Source;
    QString Problem;
};

// Looks the disc in a drive up on a CDDB server: a query with the disc's
// table of contents, then the entries it matched, one after another, until
// one has track titles. It ends by posting WM_CDDBSTATE to the notify object:
// wParam 6 when the server knows no such disc (lParam the error number),
// wParam 7 in every other case; Result() then says what was found.
//
// The requests are asynchronous on the thread that owns this object (the
// window's), so no thread of its own is needed: Stop aborts the request at
// once, and nothing is posted afterwards. Threads: the owning thread only.
class TQueryCDDB final : public QObject {
    Q_OBJECT

public:
    // Error numbers posted with message 6 and kept for failures.
    enum : int { ErrorNone = 0, ErrorNoMatch = 100, ErrorNetwork, ErrorServer, ErrorTimeout, ErrorDisc };

    TQueryCDDB(QObject* notify, int firstTrack, int lastTrack, CDHandle drive, TCddbOptions options,
               QObject* parent = nullptr);
    ~TQueryCDDB() override;

    // Time to reach the server (per request) and for the whole lookup.
    void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds whole);

    void Start();
    // Aborts the request in flight; nothing of this lookup is delivered.
    void Stop();
    bool Running() const;

    const TCddbLookupResult& Result() const;
    // The number posted with message 6, or why the lookup failed.
    int LastError() const;

private:
    void Send(const QString& command, bool isRead);
    void RequestEnded();
    void QueryAnswered(const QByteArray& body);
    void ReadNext();
    void EntryRead(const QByteArray& body);
    void Finish(TCddbLookupResult::TOutcome outcome, int error, const QString& problem);

    QPointer<QObject> Notify;
    const int FirstTrack;
    const int LastTrack;
    const CDHandle Drive;
    const TCddbOptions Options;
    std::chrono::milliseconds ConnectTimeout{10000};
    std::chrono::milliseconds WholeTimeout{30000};

    std::unique_ptr<QNetworkAccessManager> Network;
    QPointer<QNetworkReply> Reply;
    QByteArray Body;
    bool BodyCut = false;
    bool ReplyIsRead = false;
    QTimer ConnectTimer;
    QTimer WholeTimer;
    QUrl ServerUrl;
    QList<CDDBMatch> Matches;
    qsizetype NextMatch = 0;
    QString LastReadProblem;
    TCddbLookupResult LookupResult;
    int Error = ErrorNone;
    bool Started = false;
    bool Ended = false;
};
