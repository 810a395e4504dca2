#include "query_cddb.h"

#include "core/messages.h"
#include "core/settings.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

// What is read of an answer at most: a server that keeps sending cannot fill
// the memory, and an entry is cut to its buffer anyway.
constexpr qsizetype MaxQueryAnswer = 64 * 1024;
constexpr qsizetype MaxReadAnswer = CddbEntryBufferSize + 4096;

// A server's text in a message: one line, no control characters, not too long.
QString Printable(const QString& text, qsizetype length = 80)
{
    QString line = text.left(length);
    for (QChar& c : line) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?');
    }
    return text.size() > length ? line + QStringLiteral("...") : line;
}

} // namespace

TCddbOptions CddbOptionsOfSettings()
{
    const TAppSettings& settings = AppSettings();
    TCddbOptions options;
    options.Server = settings.CddbServer;
    options.Script = settings.CddbScript;
    options.UseProxy = settings.CddbUseProxy;
    options.ProxyAddress = settings.CddbProxyAddress;
    options.ProxyPort = settings.CddbProxyPort;
    return options;
}

TQueryCDDB::TQueryCDDB(QObject* notify, int firstTrack, int lastTrack, CDHandle drive, TCddbOptions options,
                       QObject* parent)
    : QObject(parent), Notify(notify), FirstTrack(firstTrack), LastTrack(lastTrack), Drive(drive),
      Options(std::move(options))
{
    ConnectTimer.setSingleShot(true);
    WholeTimer.setSingleShot(true);
    connect(&ConnectTimer, &QTimer::timeout, this, [this] {
        Finish(TCddbLookupResult::TOutcome::Failed, ErrorTimeout,
               QStringLiteral("the CDDB server %1 could not be reached within %2 seconds")
                   .arg(ServerUrl.authority())
                   .arg(ConnectTimeout.count() / 1000.0));
    });
    connect(&WholeTimer, &QTimer::timeout, this, [this] {
        Finish(TCddbLookupResult::TOutcome::Failed, ErrorTimeout,
               QStringLiteral("the CDDB server %1 did not answer within %2 seconds")
                   .arg(ServerUrl.authority())
                   .arg(WholeTimeout.count() / 1000.0));
    });
}

TQueryCDDB::~TQueryCDDB()
{
    Stop();
}

void TQueryCDDB::SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds whole)
{
    ConnectTimeout = connect;
    WholeTimeout = whole;
}

void TQueryCDDB::Start()
{
    // A lookup stopped before it started stays stopped.
    if (Started || Ended)
        return;
    Started = true;
    std::vector<std::uint32_t> starts;
    std::uint32_t leadOut = 0;
    if (CDDBDiscLayout(Drive, &starts, &leadOut) != 1 || starts.empty()) {
        Finish(TCddbLookupResult::TOutcome::Failed, ErrorDisc,
               QStringLiteral("the disc cannot be read: ") + GetAspiLibErrorText());
        return;
    }
    const TCddbServer server = CddbServerOf(Options.Server, Options.Script);
    if (!server.Problem.isEmpty()) {
        Finish(TCddbLookupResult::TOutcome::Failed, ErrorServer, server.Problem);
        return;
    }
    if (Options.UseProxy && Options.ProxyAddress.trimmed().isEmpty()) {
        Finish(TCddbLookupResult::TOutcome::Failed, ErrorServer,
               QStringLiteral("a proxy server is to be used, but its address is not set"));
        return;
    }
    ServerUrl = server.Url;
    Network = std::make_unique<QNetworkAccessManager>();
    // Without the proxy option the server is asked directly, whatever the
    // environment says: the option is the user's word on it.
    Network->setProxy(Options.UseProxy
                          ? QNetworkProxy(QNetworkProxy::HttpProxy, Options.ProxyAddress.trimmed(),
                                          CddbProxyPort(Options.ProxyPort))
                          : QNetworkProxy(QNetworkProxy::NoProxy));
    WholeTimer.start(WholeTimeout);
    Send(CddbQueryCommand(CddbDiscOf(starts, leadOut)), false);
}

void TQueryCDDB::Stop()
{
    if (Ended)
        return;
    Ended = true;
    ConnectTimer.stop();
    WholeTimer.stop();
    LookupResult.Outcome = TCddbLookupResult::TOutcome::Failed;
    LookupResult.Problem = QStringLiteral("the lookup was stopped");
    if (Reply) {
        Reply->disconnect(this);
        Reply->abort();
        Reply->deleteLater();
        Reply.clear();
    }
}

bool TQueryCDDB::Running() const
{
    return Started && !Ended;
}

const TCddbLookupResult& TQueryCDDB::Result() const
{
    return LookupResult;
}

int TQueryCDDB::LastError() const
{
    return Error;
}

void TQueryCDDB::Send(const QString& command, bool isRead)
{
    QNetworkRequest request(CddbCommandUrl(ServerUrl, command, Options.User, Options.Client));
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Velbrook"));
    Body.clear();
    BodyCut = false;
    ReplyIsRead = isRead;
    Reply = Network->get(request);
    QNetworkReply* reply = Reply;
    // Once the request is out, the server has been reached; what remains is
    // the whole lookup's time.
    connect(reply, &QNetworkReply::requestSent, this, [this] { ConnectTimer.stop(); });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        const qsizetype limit = ReplyIsRead ? MaxReadAnswer : MaxQueryAnswer;
        ConnectTimer.stop();
        Body += reply->read(std::max<qsizetype>(limit - Body.size(), 0));
        if (Body.size() >= limit && !BodyCut) {
            BodyCut = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, &TQueryCDDB::RequestEnded);
    ConnectTimer.start(ConnectTimeout);
}

void TQueryCDDB::RequestEnded()
{
    QNetworkReply* reply = Reply;
    if (!reply || Ended)
        return;
    ConnectTimer.stop();
    Reply.clear();
    reply->disconnect(this);
    reply->deleteLater();
    const QNetworkReply::NetworkError error = reply->error();
    if (!BodyCut)
        Body +=
            reply->read(std::max<qsizetype>((ReplyIsRead ? MaxReadAnswer : MaxQueryAnswer) - Body.size(), 0));
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    QString problem;
    int errorNumber = ErrorNone;
    if (status.isValid() && status.toInt() != 200) {
        problem =
            QStringLiteral("the CDDB server %1 answered \"HTTP %2 %3\"")
                .arg(ServerUrl.authority())
                .arg(status.toInt())
                .arg(Printable(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()));
        errorNumber = ErrorServer;
    } else if (error != QNetworkReply::NoError &&
               !(BodyCut && error == QNetworkReply::OperationCanceledError)) {
        problem = QStringLiteral("the CDDB server %1 cannot be reached: %2")
                      .arg(ServerUrl.authority(), reply->errorString());
        errorNumber = ErrorNetwork;
    }
    if (ReplyIsRead) {
        if (!problem.isEmpty()) {
            LastReadProblem = problem;
            ReadNext();
            return;
        }
        EntryRead(Body);
        return;
    }
    if (!problem.isEmpty()) {
        Finish(TCddbLookupResult::TOutcome::Failed, errorNumber, problem);
        return;
    }
    QueryAnswered(Body);
}

void TQueryCDDB::QueryAnswered(const QByteArray& body)
{
    const TCddbQueryAnswer answer = ParseCddbQueryAnswer(body);
    switch (answer.Kind) {
    case TCddbQueryAnswer::TKind::Matches:
        Matches = answer.Matches;
        NextMatch = 0;
        ReadNext();
        return;
    case TCddbQueryAnswer::TKind::NoMatch:
        Finish(TCddbLookupResult::TOutcome::NoMatch, ErrorNoMatch,
               QStringLiteral("the CDDB server %1 knows no such disc (\"%2\")")
                   .arg(ServerUrl.authority(), Printable(answer.StatusLine)));
        return;
    case TCddbQueryAnswer::TKind::Refused:
        Finish(TCddbLookupResult::TOutcome::Failed, ErrorServer,
               QStringLiteral("the CDDB server %1 refused the query: \"%2\"")
                   .arg(ServerUrl.authority(), Printable(answer.StatusLine)));
        return;
    case TCddbQueryAnswer::TKind::NotCddb:
        Finish(
            TCddbLookupResult::TOutcome::Failed, ErrorServer,
            body.trimmed().isEmpty()
                ? QStringLiteral("the CDDB server %1 sent an empty answer").arg(ServerUrl.authority())
                : QStringLiteral("the answer of %1 is no CDDB answer (\"%2\"); check the server and script")
                      .arg(ServerUrl.authority(), Printable(answer.StatusLine)));
        return;
    }
}

void TQueryCDDB::ReadNext()
{
    if (Ended)
        return;
    if (NextMatch >= Matches.size()) {
        Finish(TCddbLookupResult::TOutcome::NoTitles, ErrorNone,
               LastReadProblem.isEmpty()
                   ? QStringLiteral("no entry the CDDB server has for the disc holds track titles")
                   : LastReadProblem);
        return;
    }
    Send(CddbReadCommand(Matches[NextMatch++]), true);
}

void TQueryCDDB::EntryRead(const QByteArray& body)
{
    const CDDBMatch& match = Matches[NextMatch - 1];
    const TCddbReadAnswer answer = ParseCddbReadAnswer(body);
    if (!answer.Found) {
        LastReadProblem =
            QStringLiteral("the CDDB server %1 did not give the entry %2 %3 (\"%4\")")
                .arg(ServerUrl.authority(), match.Category, match.DiscId, Printable(answer.StatusLine));
        ReadNext();
        return;
    }
    const TCddbEntry entry = ParseCddbEntry(answer.Entry, LastTrack - FirstTrack + 1);
    // Disc fields of an entry without track titles stay, unless a later entry
    // gives them anew.
    TCddbEntry& found = LookupResult.Entry;
    for (auto [field, value] : {std::pair{&found.Artist, &entry.Artist},
                                std::pair{&found.Album, &entry.Album}, std::pair{&found.Year, &entry.Year}}) {
        if (*value)
            *field = *value;
    }
    if (entry.Genre)
        found.Genre = entry.Genre;
    if (!entry.HasTrackTitles()) {
        LastReadProblem.clear();
        ReadNext();
        return;
    }
    found.Titles = entry.Titles;
    LookupResult.Source = match.Category + QLatin1Char(' ') + match.DiscId;
    Finish(TCddbLookupResult::TOutcome::Found, ErrorNone, QString());
}

void TQueryCDDB::Finish(TCddbLookupResult::TOutcome outcome, int error, const QString& problem)
{
    if (Ended)
        return;
    Ended = true;
    ConnectTimer.stop();
    WholeTimer.stop();
    if (Reply) {
        Reply->disconnect(this);
        Reply->abort();
        Reply->deleteLater();
        Reply.clear();
    }
    LookupResult.Outcome = outcome;
    LookupResult.Problem = problem;
    Error = error;
    const bool noMatch = outcome == TCddbLookupResult::TOutcome::NoMatch;
    if (Notify)
        PostMessageEvent(Notify, WM_CDDBSTATE, noMatch ? 6 : 7, noMatch ? error : 0);
}
