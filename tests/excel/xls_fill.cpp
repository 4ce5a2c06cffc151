// Fills a workbook through the built-in server's late-bound members, one call per cell as the
// generation run does, for the round-trip checks that read the result with other programs.
//   xls_fill IN OUT CELLS   CELLS lines: row <TAB> column <TAB> n|s <TAB> value (rows, columns from 1)

#include "platform/excel/ExcelApplication.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

using namespace automation;

int main(int argc, char **argv)
{
    QCoreApplication qapp(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: xls_fill IN OUT CELLS\n");
        return 2;
    }
    try {
        ObjectRef app = createBuiltinExcelApplication();
        app->put(u"DisplayAlerts", Variant::fromBool(false));
        requireObject(app->get(u"Workbooks"))->call(u"Open", {QString::fromLocal8Bit(argv[1])});
        const int32_t n = requireObject(app->get(u"Workbooks"))->get(u"Count").toInt32();
        ObjectRef wb = requireObject(app->get(u"Workbooks", {Variant(n)}));
        QFile cells(QString::fromLocal8Bit(argv[3]));
        if (!cells.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", argv[3]);
            return 2;
        }
        while (!cells.atEnd()) {
            const QString line = QString::fromUtf8(cells.readLine()).chopped(1);
            const QStringList f = line.split(QLatin1Char('\t'));
            if (f.size() < 4)
                continue;
            const QString value = f.mid(3).join(QLatin1Char('\t')).replace(QLatin1String("\\n"), QLatin1String("\n"));
            ObjectRef cell = requireObject(requireObject(wb->get(u"ActiveSheet"))
                                               ->call(u"Cells", {Variant(int16_t(f[0].toShort())), Variant(int16_t(f[1].toShort()))}));
            cell->put(u"Value", f[2] == QLatin1String("n") ? Variant(value.toDouble()) : Variant(value));
        }
        wb->call(u"SaveAs", {QString::fromLocal8Bit(argv[2])}, {{QStringLiteral("FileFormat"), Variant(int32_t(56))}});
        wb->call(u"Close");
        app->call(u"Quit");
    } catch (const AutomationError &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}
