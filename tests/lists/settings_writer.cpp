// Saves the fifteen lists over and over, alternating two whole sets, until it is killed:
// the torn-write test kills it at random moments and reads what it left.
//   settings_writer <set A tag> <set B tag>
// Prints "ready" once the first save has reached the disk.

#include "platform/services/SettingsStore.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList tags{argc > 1 ? argv[1] : "A", argc > 2 ? argv[2] : "B"};
    for (long round = 0;; ++round) {
        const QString &tag = tags[round % 2];
        platform::SettingsValues values;
        for (int i = 0; i < 15; ++i)
            values.append({QStringLiteral("List%1").arg(i),
                           QStringLiteral("%1;%1 item %2;").arg(tag).arg(i).repeated(20 + i * 7).chopped(1)});
        platform::SaveSettings(QStringLiteral("Quillmark"), QStringLiteral("Pantrimo"), values);
        if (round == 0) {
            std::puts("ready");
            std::fflush(stdout);
        }
    }
}
