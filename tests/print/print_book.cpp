// print_book IN.xls OUT.pdf: the PDF the program makes of any workbook, for the tests that
// read it back with poppler's tools. Exit 1 with the reason on stderr when it fails.

#include "preview/Export.h"

#include <QGuiApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: print_book IN.xls OUT.pdf\n");
        return 2;
    }
    try {
        QStringList notes;
        preview::ExportPdf(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), &notes);
        for (const QString &note : notes)
            std::printf("note: %s\n", qPrintable(note));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
