#pragma once

#include <QString>
#include <QTemporaryDir>

// A fresh program folder for one test: VELBROOK_HOME points at a new temporary
// folder, the settings and disc records start from their defaults, and both are
// put back when the test ends, as are Qt's language and layout direction.
class TTempHome {
public:
    TTempHome();
    ~TTempHome();
    TTempHome(const TTempHome&) = delete;
    TTempHome& operator=(const TTempHome&) = delete;

    QString Path() const;
    QString File(const QString& name) const;

    // Writes bytes to a file in the folder, creating sub-folders.
    void Write(const QString& name, const QByteArray& bytes) const;
    QByteArray Read(const QString& name) const;

    // Copies a file of the source tree's data folder (a language file) here.
    void CopyDataFile(const QString& name) const;

private:
    QTemporaryDir Dir;
    QByteArray PreviousHome;
    bool HadHome = false;
};
