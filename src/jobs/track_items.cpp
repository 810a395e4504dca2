#include "track_items.h"

#include "core/disc_info.h"
#include "core/helpers.h"

#include <QSet>

int ItemTrack(const QString& item)
{
    bool ok = false;
    const int track = item.left(2).toInt(&ok);
    return ok && track >= 0 ? track : 0;
}

QString ItemTitle(const QString& item)
{
    return item.mid(2);
}

QStringList SafeTrackItems(const QStringList& items)
{
    QStringList safe;
    QSet<QString> taken;
    for (const QString& item : items) {
        const int track = ItemTrack(item);
        QString title = CleanFileName(ItemTitle(item));
        // An empty title would make a hidden ".wav"; one starting with a dot is
        // hidden too, and "." or ".." is no file name at all.
        if (title.trimmed().isEmpty() || title.startsWith(QLatin1Char('.')))
            title = DefaultTrackTitle(track);
        const QString base = title;
        for (int n = 2; taken.contains(title.toCaseFolded()); ++n)
            title = base + QStringLiteral(" (%1)").arg(n);
        taken.insert(title.toCaseFolded());
        safe.append(item.left(2) + title);
    }
    return safe;
}
