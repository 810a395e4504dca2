#include "app_test_support.h"

#include "cd/cd_drive.h"
#include "cd/cd_rip_thread.h"
#include "cd/disc_image.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

TAppTest::TAppTest()
{
    SetCDImages({});
    qunsetenv("VELBROOK_CD_IMAGES");
    qunsetenv("VELBROOK_UNREADABLE_SECTORS");
    qunsetenv("VELBROOK_FAILING_CD_CALLS");
}

TAppTest::~TAppTest()
{
    SetCDImages({});
    qunsetenv("VELBROOK_FAILING_CD_CALLS");
}

QString TAppTest::UseDemoDisc()
{
    const QString path = Home.File(QStringLiteral("demo.cue"));
    const QString error = WriteDemoDisc(path);
    EXPECT_TRUE(error.isEmpty()) << qPrintable(error);
    SetCDImages({path});
    return path;
}

QString TAppTest::UseImage(const QString& name, const TImageSpec& spec)
{
    const QString path = Home.File(name);
    const QString error = WriteDiscImage(path, spec);
    EXPECT_TRUE(error.isEmpty()) << qPrintable(error);
    SetCDImages({path});
    return path;
}

QString TAppTest::UseSparseImage(const QString& name, const std::vector<qint64>& starts, qint64 leadOut)
{
    const QString path = Home.File(name);
    const QFileInfo info(path);
    const QString binName = info.completeBaseName() + QStringLiteral(".bin");
    QFile data(info.path() + QLatin1Char('/') + binName);
    EXPECT_TRUE(data.open(QIODevice::WriteOnly));
    EXPECT_TRUE(data.resize(leadOut * CDFrameBytes));
    data.close();
    QByteArray text = "FILE \"" + binName.toUtf8() + "\" BINARY\n";
    for (size_t i = 0; i < starts.size(); ++i) {
        text += QStringLiteral("  TRACK %1 AUDIO\n    INDEX 01 %2\n")
                    .arg(i + 1, 2, 10, QLatin1Char('0'))
                    .arg(FramesToMsfText(starts[i]))
                    .toLatin1();
    }
    QFile cue(path);
    EXPECT_TRUE(cue.open(QIODevice::WriteOnly));
    EXPECT_EQ(cue.write(text), text.size());
    cue.close();
    SetCDImages({path});
    return path;
}

QString WriteCdWav(const QString& path, int seconds)
{
    const qint64 frames = qint64{seconds} * 75;
    QByteArray data(static_cast<qsizetype>(frames * 2352), '\0');
    SynthesizeFrames(1, 0, frames, data.data());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(CDWavHeader(data.size()));
    file.write(data);
    return path;
}

bool MachineHasCdDrive()
{
    return !RealCDDrives().isEmpty();
}

TModalAnswer::TModalAnswer(std::function<void(QWidget*)> action) : Timer(std::make_unique<QTimer>())
{
    Timer->setInterval(5);
    QObject::connect(Timer.get(), &QTimer::timeout, [this, action = std::move(action)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (Done || !modal || !modal->isVisible())
            return;
        Done = true;
        Timer->stop();
        action(modal);
    });
    Timer->start();
}

TModalAnswer::~TModalAnswer()
{
    Timer->stop();
    EXPECT_TRUE(Done) << "no modal window was shown";
}

bool TModalAnswer::Answered() const
{
    return Done;
}

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
