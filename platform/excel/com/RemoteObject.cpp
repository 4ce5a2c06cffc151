#include "platform/excel/com/RemoteObject.h"

#include "platform/excel/com/ComVariant.h"
#include "platform/facts/Environment.h"

#include <QElapsedTimer>

#include <vector>

using automation::Args;
using automation::AutomationError;
using automation::InvokeKind;
using automation::Variant;

namespace com {

namespace {

constexpr int kDefaultBusyTimeoutMs = 20000;
constexpr DWORD kBusyPauseMs = 100;

bool isBusy(HRESULT hr) { return hr == RPC_E_SERVERCALL_RETRYLATER || hr == RPC_E_CALL_REJECTED; }

// The arguments of one Invoke, in the order IDispatch wants them: named ones first, then the
// positional ones from last to first. The array owns what it holds.
class InvokeArguments {
public:
    InvokeArguments(const Args &args, const std::vector<DISPID> &namedIds, InvokeKind kind)
    {
        std::vector<Variant> positional = args.positional;
        const bool put = kind == InvokeKind::Put;
        m_values.reserve(args.positional.size() + args.named.size());
        if (put) {
            // The assigned value is the last positional one; it travels as DISPID_PROPERTYPUT.
            append(positional.back());
            positional.pop_back();
            m_named.push_back(DISPID_PROPERTYPUT);
        }
        for (size_t i = 0; i < args.named.size(); ++i) {
            append(args.named[i].value);
            m_named.push_back(namedIds[i]);
        }
        for (auto it = positional.rbegin(); it != positional.rend(); ++it)
            append(*it);
        m_params.rgvarg = m_values.empty() ? nullptr : m_values.data();
        m_params.cArgs = UINT(m_values.size());
        m_params.rgdispidNamedArgs = m_named.empty() ? nullptr : m_named.data();
        m_params.cNamedArgs = UINT(m_named.size());
    }
    ~InvokeArguments()
    {
        for (VARIANT &v : m_values)
            VariantClear(&v);
    }
    InvokeArguments(const InvokeArguments &) = delete;
    InvokeArguments &operator=(const InvokeArguments &) = delete;

    DISPPARAMS *params() { return &m_params; }

private:
    void append(const Variant &value)
    {
        m_values.emplace_back();
        VariantInit(&m_values.back());
        toVariant(value, &m_values.back());
    }

    std::vector<VARIANT> m_values;
    std::vector<DISPID> m_named;
    DISPPARAMS m_params{};
};

// The description of a server's exception, as the server worded it.
QString exceptionText(EXCEPINFO &info)
{
    if (info.pfnDeferredFillIn)
        info.pfnDeferredFillIn(&info);
    QString text = info.bstrDescription ? QString::fromWCharArray(info.bstrDescription, int(SysStringLen(info.bstrDescription))) : QString();
    if (text.isEmpty())
        text = describeResult(info.scode ? info.scode : HRESULT(info.wCode));
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return text;
}

} // namespace

bool isServerLost(HRESULT hr)
{
    return hr == RPC_E_DISCONNECTED || hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) || hr == RPC_E_SERVER_DIED ||
           hr == RPC_E_SERVER_DIED_DNE || hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) || hr == CO_E_OBJNOTCONNECTED ||
           hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE);
}

QString describeResult(HRESULT hr)
{
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, DWORD(hr), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString words = n ? QString::fromWCharArray(text, int(n)).trimmed() : QString();
    LocalFree(text);
    const QString number = QStringLiteral("0x%1").arg(uint32_t(hr), 8, 16, QLatin1Char('0'));
    return words.isEmpty() ? QStringLiteral("error %1").arg(number) : QStringLiteral("%1 (%2)").arg(words, number);
}

int busyTimeoutMs()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue(facts::env::kExcelBusyMs, &ok);
    return ok && ms >= 0 ? ms : kDefaultBusyTimeoutMs;
}

RemoteObject::RemoteObject(ComRef<IDispatch> dispatch, std::shared_ptr<Link> link)
    : m_dispatch(std::move(dispatch)), m_link(std::move(link))
{
}

DISPID RemoteObject::memberId(QStringView member)
{
    if (member.isEmpty())
        return DISPID_VALUE;
    const QString key = member.toString().toLower();
    if (auto it = m_ids.constFind(key); it != m_ids.constEnd())
        return *it;
    std::wstring name = member.toString().toStdWString();
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    const HRESULT hr = m_dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (hr == DISP_E_UNKNOWNNAME)
        throwUnknownMember(member);
    if (FAILED(hr)) {
        if (isServerLost(hr)) {
            m_link->ended = true;
            m_link->endedReason = describeResult(hr);
        }
        throw AutomationError(QStringLiteral("%1: %2").arg(member.toString(), describeResult(hr)));
    }
    m_ids.insert(key, id);
    return id;
}

Variant RemoteObject::invoke(QStringView member, InvokeKind kind, const Args &args)
{
    if (m_link->ended)
        throw AutomationError(QStringLiteral("The spreadsheet server has ended (%1)").arg(m_link->endedReason));
    if (!m_dispatch)
        throw AutomationError(QStringLiteral("Object variable not set"));
    return invokeId(memberId(member), member, kind, args);
}

Variant RemoteObject::invokeById(int dispId, InvokeKind kind, const Args &args)
{
    if (m_link->ended)
        throw AutomationError(QStringLiteral("The spreadsheet server has ended (%1)").arg(m_link->endedReason));
    if (!m_dispatch)
        throw AutomationError(QStringLiteral("Object variable not set"));
    return invokeId(dispId, QString::number(dispId), kind, args);
}

Variant RemoteObject::invokeId(DISPID id, QStringView member, InvokeKind kind, const Args &args)
{
    if (kind == InvokeKind::Put && args.positional.empty())
        throw AutomationError(QStringLiteral("Argument not optional: %1").arg(member.toString()));
    std::vector<DISPID> namedIds(args.named.size(), DISPID_UNKNOWN);
    if (!args.named.empty()) {
        // Named arguments are looked up together with their member, as IDispatch wants them.
        std::vector<std::wstring> names{member.toString().toStdWString()};
        for (const automation::NamedArg &n : args.named)
            names.push_back(n.name.toStdWString());
        std::vector<LPOLESTR> pointers;
        for (std::wstring &n : names)
            pointers.push_back(n.data());
        std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
        const HRESULT hr = m_dispatch->GetIDsOfNames(IID_NULL, pointers.data(), UINT(pointers.size()), LOCALE_USER_DEFAULT, ids.data());
        if (hr == DISP_E_UNKNOWNNAME) {
            for (size_t i = 1; i < ids.size(); ++i)
                if (ids[i] == DISPID_UNKNOWN)
                    throw AutomationError(QStringLiteral("%1: unknown named argument %2").arg(member.toString(), args.named[i - 1].name));
            throwUnknownMember(member);
        }
        if (FAILED(hr))
            throw AutomationError(QStringLiteral("%1: %2").arg(member.toString(), describeResult(hr)));
        std::copy(ids.begin() + 1, ids.end(), namedIds.begin());
    }

    InvokeArguments arguments(args, namedIds, kind);
    const WORD flags = kind == InvokeKind::Put ? WORD(DISPATCH_PROPERTYPUT) : WORD(DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        VariantArg result;
        EXCEPINFO exception{};
        UINT badArgument = 0;
        const HRESULT hr = m_dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, arguments.params(),
                                              kind == InvokeKind::Put ? nullptr : result.get(), &exception, &badArgument);
        if (SUCCEEDED(hr))
            return fromVariant(result.value(), m_link);
        if (hr == DISP_E_EXCEPTION)
            throw AutomationError(exceptionText(exception));
        // The message filter has normally retried already; where it was not asked (or for a
        // server that answers "busy" without one), this loop keeps the same bound.
        if (isBusy(hr) && waited.elapsed() < busyTimeoutMs()) {
            Sleep(kBusyPauseMs);
            continue;
        }
        if (isBusy(hr))
            throw AutomationError(QStringLiteral("%1: the spreadsheet program stayed busy for %2 s and did not take the call "
                                                 "(it may be showing a dialog, or a cell is being edited): %3")
                                      .arg(member.toString(), QString::number(waited.elapsed() / 1000.0, 'f', 1), describeResult(hr)));
        if (isServerLost(hr)) {
            m_link->ended = true;
            m_link->endedReason = describeResult(hr);
            throw AutomationError(QStringLiteral("The spreadsheet server has ended (%1)").arg(m_link->endedReason));
        }
        switch (hr) {
        case DISP_E_MEMBERNOTFOUND:
            throwUnknownMember(member);
        case DISP_E_BADPARAMCOUNT:
            throw AutomationError(QStringLiteral("Wrong number of arguments or invalid property assignment: %1").arg(member.toString()));
        case DISP_E_TYPEMISMATCH:
            throw AutomationError(automation::kTypeMismatch);
        case DISP_E_OVERFLOW:
            throw AutomationError(automation::kOverflow);
        case DISP_E_PARAMNOTOPTIONAL:
            throw AutomationError(QStringLiteral("Argument not optional: %1").arg(member.toString()));
        default:
            throw AutomationError(QStringLiteral("%1: %2").arg(member.toString(), describeResult(hr)));
        }
    }
}

} // namespace com
