#include "LookAndFeel.h"

#include "automation/AutomationError.h"

#include <QApplication>
#include <QFile>
#include <QImageReader>
#include <QBuffer>
#include <QtEndian>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

namespace shell {

QColor buttonFaceColor() { return QApplication::palette().color(QPalette::Button); }

void setBackColor(QWidget *widget, const QColor &color)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, color);
    widget->setPalette(p);
    widget->setAutoFillBackground(true);
}

void SetFormBackColors(QWidget *window)
{
    const QColor face = buttonFaceColor();
    setBackColor(window, face);
    for (QWidget *control : window->findChildren<QWidget *>()) {
        if (control->isWindow())
            continue;
        if (qobject_cast<QRadioButton *>(control) || qobject_cast<QCheckBox *>(control) ||
            qobject_cast<QGroupBox *>(control) || qobject_cast<QLabel *>(control))
            setBackColor(control, face);
    }
}

QCursor loadCursorFile(const QString &path)
{
    // ICONDIR (reserved, type 2 = cursor, count) and the first ICONDIRENTRY, whose two
    // 16-bit fields after the colour count are the hot spot.
    constexpr int kDirSize = 6;
    constexpr int kEntrySize = 16;
    constexpr int kHotSpotX = kDirSize + 4;
    constexpr int kHotSpotY = kDirSize + 6;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw automation::AutomationError(QStringLiteral("Could not read the cursor file %1: %2").arg(path, file.errorString()));
    const QByteArray bytes = file.read(1 << 20);
    const auto u16 = [&bytes](int at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
    if (bytes.size() < kDirSize + kEntrySize || u16(0) != 0 || u16(2) != 2 || u16(4) == 0)
        throw automation::AutomationError(QStringLiteral("%1 is not a cursor file").arg(path));
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, "cur");
    const QImage image = reader.read();
    if (image.isNull())
        throw automation::AutomationError(QStringLiteral("The cursor in %1 cannot be read: %2").arg(path, reader.errorString()));
    const int hotX = qBound(0, int(u16(kHotSpotX)), image.width() - 1);
    const int hotY = qBound(0, int(u16(kHotSpotY)), image.height() - 1);
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

} // namespace shell
