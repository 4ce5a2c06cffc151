#include "shell/LookAndFeel.h"

#include "platform/automation/AutomationError.h"
#include "platform/automation/ClassRegistry.h"
#include "platform/services/Paths.h"
#include "platform/skin/SkinFramework.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
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

namespace {
const char *const kPictureBoxProperty = "pantrimoPictureBox";

// The window and those of its controls that pass the test to button face.
template <typename Test>
void recolourToButtonFace(QWidget *window, Test recoloured)
{
    const QColor face = buttonFaceColor();
    setBackColor(window, face);
    for (QWidget *control : window->findChildren<QWidget *>()) {
        if (!control->isWindow() && recoloured(control))
            setBackColor(control, face);
    }
}

bool isOptionCheckFrameOrLabel(const QWidget *control)
{
    return qobject_cast<const QRadioButton *>(control) || qobject_cast<const QCheckBox *>(control) ||
           qobject_cast<const QGroupBox *>(control) || qobject_cast<const QLabel *>(control);
}
} // namespace

void markPictureBox(QWidget *widget) { widget->setProperty(kPictureBoxProperty, true); }
bool isPictureBox(const QWidget *widget) { return widget->property(kPictureBoxProperty).toBool(); }

void SetFormBackColors(QWidget *window)
{
    recolourToButtonFace(window, isOptionCheckFrameOrLabel);
}

bool isOrdinaryFile(const QString &path) { return QFileInfo(path).isFile(); }

void ApplySkin(QWidget *mainWindow, automation::ObjectRef &skinFramework)
{
    using automation::InvokeKind;
    using automation::Variant;
    namespace id = platform::skin_id;

    const QString path = platform::joinPath(platform::programFolder(), kSkinFile);
    if (!isOrdinaryFile(path))
        return;
    recolourToButtonFace(mainWindow, [](const QWidget *control) {
        return isOptionCheckFrameOrLabel(control) || isPictureBox(control);
    });
    if (!skinFramework)
        skinFramework = automation::createObject(platform::kSkinFrameworkClass);
    automation::AutomationObject &skin = *skinFramework;
    skin.invokeById(id::kLoadSkin, InvokeKind::Get, {Variant(path), Variant(QString())});
    const int32_t options = skin.invokeById(id::kApplyOptions, InvokeKind::Get, {}).toInt32();
    skin.invokeById(id::kApplyOptions, InvokeKind::Put, {Variant(int32_t(options | platform::kConfineToWindow))});
    skin.invokeById(id::kFramesOption, InvokeKind::Put, {Variant::fromBool(true)});
    skin.invokeById(id::kBackgroundOption, InvokeKind::Put, {Variant::fromBool(true)});
    // Native handles travel as 32-bit integers; window ids here fit in 32 bits.
    const auto handle = static_cast<int32_t>(static_cast<quint32>(mainWindow->winId()));
    skin.invokeById(id::kApplyWindow, InvokeKind::Get, {Variant(handle)});
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
