#include "platform/skin/SkinFramework.h"

#include "platform/automation/ClassRegistry.h"

#include <QApplication>
#include <QFile>
#include <QStringDecoder>
#include <QWidget>

using automation::Args;
using automation::AutomationError;
using automation::InvokeKind;
using automation::Variant;

namespace platform {

namespace {
// A skin is a page of rules; anything this large is not one.
constexpr qint64 kMaxSkinBytes = 1 << 20;

struct Member {
    const char16_t *name;
    int id;
};
constexpr Member kMembers[] = {
    {u"ApplyOptions", skin_id::kApplyOptions},
    {u"LoadSkin", skin_id::kLoadSkin},
    {u"ApplyWindow", skin_id::kApplyWindow},
};

// Index just past the string that starts at open, or -1 when it is never closed. CSS
// strings end at the same quote, may escape any character, and never span a line.
qsizetype skipString(QStringView text, qsizetype open)
{
    const QChar quote = text[open];
    for (qsizetype i = open + 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\\') {
            ++i;
            continue;
        }
        if (c == u'\n')
            return -1;
        if (c == quote)
            return i + 1;
    }
    return -1;
}

void expectArgCount(const Args &args, size_t min, size_t max, QStringView member)
{
    if (args.count() < min || args.count() > max)
        throw AutomationError(
            QStringLiteral("Wrong number of arguments or invalid property assignment: SkinFramework.%1")
                .arg(member.toString()));
}
} // namespace

QString styleSheetProblem(QStringView text)
{
    if (text.contains(QChar(0)))
        return QStringLiteral("contains a NUL character");
    int depth = 0;
    int rules = 0;
    bool selector = false; // text since the last block, outside any block
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'/' && i + 1 < text.size() && text[i + 1] == u'*') {
            const qsizetype end = text.indexOf(u"*/", i + 2);
            if (end < 0)
                return QStringLiteral("has a comment that is never closed");
            i = end + 1;
        } else if (c == u'"' || c == u'\'') {
            const qsizetype end = skipString(text, i);
            if (end < 0)
                return QStringLiteral("has a string that is never closed");
            selector = selector || depth == 0;
            i = end - 1;
        } else if (c == u'{') {
            if (depth > 0)
                return QStringLiteral("has a block inside a block");
            if (!selector)
                return QStringLiteral("has a block without a selector");
            ++depth;
            ++rules;
            selector = false;
        } else if (c == u'}') {
            if (depth == 0)
                return QStringLiteral("has a closing brace without an opening one");
            --depth;
        } else if (depth == 0 && !c.isSpace()) {
            selector = true;
        }
    }
    if (depth > 0)
        return QStringLiteral("has a block that is never closed");
    if (selector)
        return QStringLiteral("ends with a selector that has no block");
    if (rules == 0)
        return QStringLiteral("has no rule");
    return {};
}

QString readSkinFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AutomationError(QStringLiteral("Could not read the skin file %1: %2").arg(path, file.errorString()));
    const QByteArray bytes = file.read(kMaxSkinBytes + 1);
    if (file.error() != QFileDevice::NoError)
        throw AutomationError(QStringLiteral("Could not read the skin file %1: %2").arg(path, file.errorString()));
    if (bytes.size() > kMaxSkinBytes)
        throw AutomationError(QStringLiteral("The skin file %1 is too large to be a skin").arg(path));
    QStringDecoder decode(QStringConverter::Utf8);
    const QString text = decode(bytes);
    if (decode.hasError())
        throw AutomationError(QStringLiteral("The skin file %1 is not UTF-8 text").arg(path));
    const QString problem = styleSheetProblem(text);
    if (!problem.isEmpty())
        throw AutomationError(QStringLiteral("The skin file %1 is not a readable skin: it %2").arg(path, problem));
    return text;
}

Variant SkinFramework::invoke(QStringView member, InvokeKind kind, const Args &args)
{
    for (const Member &m : kMembers)
        if (member.compare(QStringView(m.name), Qt::CaseInsensitive) == 0)
            return invokeById(m.id, kind, args);
    throwUnknownMember(member);
}

Variant SkinFramework::invokeById(int dispId, InvokeKind kind, const Args &args)
{
    const bool put = kind == InvokeKind::Put;
    switch (dispId) {
    case skin_id::kLoadSkin:
        if (put)
            break;
        loadSkin(args);
        return {};
    case skin_id::kApplyWindow:
        if (put)
            break;
        applyWindow(args);
        return {};
    case skin_id::kApplyOptions:
        if (put) {
            expectArgCount(args, 1, 1, u"ApplyOptions");
            m_options = args.at(0).toInt32();
            return {};
        }
        return Variant(m_options);
    case skin_id::kFramesOption:
    case skin_id::kBackgroundOption: {
        bool &option = dispId == skin_id::kFramesOption ? m_frames : m_background;
        if (put) {
            expectArgCount(args, 1, 1, QStringLiteral("[id %1]").arg(dispId));
            option = args.at(0).toBool();
            return {};
        }
        return Variant::fromBool(option);
    }
    default:
        break;
    }
    return AutomationObject::invokeById(dispId, kind, args);
}

void SkinFramework::loadSkin(const Args &args)
{
    expectArgCount(args, 1, 2, u"LoadSkin");
    m_sheet = readSkinFile(args.at(0).toString());
    m_loaded = true;
}

void SkinFramework::applyWindow(const Args &args)
{
    expectArgCount(args, 1, 1, u"ApplyWindow");
    // Handles travel as 32-bit integers; native window ids here fit in 32 bits unsigned.
    const auto handle = static_cast<quint32>(args.at(0).toInt32());
    if (!m_loaded)
        throw AutomationError(QStringLiteral("No skin is loaded"));
    QWidget *window = QWidget::find(WId(handle));
    if (!window)
        throw AutomationError(QStringLiteral("No window has the handle %1").arg(handle));
    if (m_options & kConfineToWindow)
        window->setStyleSheet(m_sheet);
    else
        qApp->setStyleSheet(m_sheet);
}

void registerSkinFramework()
{
    automation::ClassRegistry::instance().registerClass(kSkinFrameworkClass,
                                                        [] { return std::make_shared<SkinFramework>(); });
}

} // namespace platform
