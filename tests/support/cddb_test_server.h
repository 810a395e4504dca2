#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A real CDDB server on 127.0.0.1 for one test: tests/support/cddb_server.py
// started on a free port, answering from an entries folder of its own (the
// entries kept in tests/support/cddb are copied in; tests add more), or, with
// "--proxy", a minimal HTTP proxy. Extra arguments choose how it misbehaves
// ("--delay", "--hang", "--http-status", "--query-answer FILE", "--read-answer
// FILE").
// It ends with the object.
class TCddbTestServer {
public:
    explicit TCddbTestServer(const QStringList& arguments = {});
    ~TCddbTestServer();
    TCddbTestServer(const TCddbTestServer&) = delete;
    TCddbTestServer& operator=(const TCddbTestServer&) = delete;

    // 0 when it did not start (the test has failed then).
    quint16 Port() const;
    // "127.0.0.1:PORT", as the server setting names it.
    QString Address() const;

    // Adds (or replaces) the entry category/discid.
    void AddEntry(const QString& category, const QString& discId, const QByteArray& entry) const;
    // The request lines it has received, in order.
    QStringList Requests() const;

private:
    void WriteFile(const QString& name, const QByteArray& bytes) const;

    QTemporaryDir Dir;
    QProcess Process;
    quint16 ServerPort = 0;
};
