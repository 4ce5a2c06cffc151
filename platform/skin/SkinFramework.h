#pragma once
// The skin control: loads a skin file and draws one window in it. Callers reach it the
// way they reach an outside component, by dispatch id:
//
//   id 2  LoadSkin(path, ini)   method; reads and checks the skin file (ini is unused and
//                               may be empty). A file that is not a readable skin raises
//                               an AutomationError naming the file; the loaded skin is
//                               then the one from before.
//   id 1  ApplyOptions          property get/put, a 32-bit mask:
//           bit 0  confine the skin to the window given to Apply. Without it, Apply
//                  installs the skin for the whole application (every window, message
//                  boxes included). Other bits are kept as given and mean nothing here.
//   id 5  (frames option)       property put/get, boolean. Recorded only: the skin file
//   id 10 (background option)   alone decides what it restyles, so these two change
//                               nothing in how a window is drawn.
//   id 3  ApplyWindow(handle)   method; the native window handle as a 32-bit integer.
//                               Raises an AutomationError when no skin is loaded or no
//                               window of this program has that handle.
//
// Skin file format: a Qt style sheet in UTF-8. A readable one has no NUL bytes, balanced
// braces, closed comments and strings, and at least one rule ("selector { ... }").
//
// Registered as kSkinFrameworkClass; the main window creates it through the registry,
// so tests can put a recording object in its place.

#include "platform/automation/AutomationObject.h"

#include <QPointer>
#include <QString>

class QWidget;

namespace platform {

inline const QString kSkinFrameworkClass = QStringLiteral("Pantrimo.SkinFramework");

namespace skin_id {
constexpr int kApplyOptions = 1;
constexpr int kLoadSkin = 2;
constexpr int kApplyWindow = 3;
constexpr int kFramesOption = 5;
constexpr int kBackgroundOption = 10;
} // namespace skin_id

constexpr int32_t kConfineToWindow = 0x1;

// Reads a skin file and returns its style sheet; raises an AutomationError naming the
// file when it cannot be read or is not a readable style sheet.
QString readSkinFile(const QString &path);

// Why text is not a readable style sheet, or an empty string when it is.
QString styleSheetProblem(QStringView text);

class SkinFramework : public automation::AutomationObject {
public:
    QString className() const override { return QStringLiteral("SkinFramework"); }
    automation::Variant invoke(QStringView member, automation::InvokeKind kind, const automation::Args &args) override;
    automation::Variant invokeById(int dispId, automation::InvokeKind kind, const automation::Args &args) override;

    const QString &styleSheet() const { return m_sheet; }
    int32_t applyOptions() const { return m_options; }
    bool framesOption() const { return m_frames; }
    bool backgroundOption() const { return m_background; }

private:
    void loadSkin(const automation::Args &args);
    void applyWindow(const automation::Args &args);

    QString m_sheet;
    bool m_loaded = false;
    int32_t m_options = 0;
    bool m_frames = false;
    bool m_background = false;
};

// Registers SkinFramework under kSkinFrameworkClass.
void registerSkinFramework();

} // namespace platform
