#include "platform/excel/com/ObjectDispatch.h"

#include "platform/excel/com/ComVariant.h"

#include <QHash>
#include <QStringList>

#include <atomic>

using automation::Args;
using automation::AutomationError;
using automation::InvokeKind;

namespace com {

namespace {

std::atomic<long> g_live{0};
std::function<void()> g_lastReleased;

// Member and argument names by dispatch id; one table for every object, so that a name has one
// id wherever it is asked for. Ids count from 1: 0 is DISPID_VALUE.
struct NameTable {
    QHash<QString, DISPID> ids;
    QStringList names;

    DISPID idOf(const QString &name)
    {
        if (name.isEmpty())
            return DISPID_VALUE;
        const QString key = name.toLower();
        if (auto it = ids.constFind(key); it != ids.constEnd())
            return *it;
        names.push_back(name);
        const DISPID id = DISPID(names.size());
        ids.insert(key, id);
        return id;
    }
    // False for an id that no name was given.
    bool nameOf(DISPID id, QString *name) const
    {
        if (id == DISPID_VALUE) {
            name->clear();
            return true;
        }
        if (id < 1 || id > names.size())
            return false;
        *name = names[id - 1];
        return true;
    }
};

NameTable &nameTable()
{
    static NameTable table; // used on the apartment's one thread only
    return table;
}

BSTR bstr(const QString &text) { return SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.utf16()), UINT(text.size())); }

HRESULT raise(EXCEPINFO *exception, const QString &source, const QString &description)
{
    if (exception) {
        *exception = EXCEPINFO{};
        exception->bstrSource = bstr(source);
        exception->bstrDescription = bstr(description);
        exception->scode = E_FAIL;
    }
    return DISP_E_EXCEPTION;
}

} // namespace

IDispatch *ObjectDispatch::create(automation::ObjectRef object) { return new ObjectDispatch(std::move(object)); }

long ObjectDispatch::liveCount() { return g_live.load(); }

void ObjectDispatch::setLastReleasedHandler(std::function<void()> handler) { g_lastReleased = std::move(handler); }

ObjectDispatch::ObjectDispatch(automation::ObjectRef object) : m_object(std::move(object)) { ++g_live; }

ObjectDispatch::~ObjectDispatch()
{
    m_object.reset();
    if (--g_live == 0 && g_lastReleased)
        g_lastReleased();
}

HRESULT ObjectDispatch::QueryInterface(REFIID riid, void **object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
        *object = static_cast<IDispatch *>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG ObjectDispatch::AddRef() { return ULONG(InterlockedIncrement(&m_refs)); }

ULONG ObjectDispatch::Release()
{
    const LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0)
        delete this;
    return ULONG(refs);
}

HRESULT ObjectDispatch::GetTypeInfoCount(UINT *count)
{
    if (!count)
        return E_POINTER;
    *count = 0; // late-bound only: no type library
    return S_OK;
}

HRESULT ObjectDispatch::GetTypeInfo(UINT, LCID, ITypeInfo **info)
{
    if (info)
        *info = nullptr;
    return DISP_E_BADINDEX;
}

// Every name gets an id: whether the member exists is known only when it is called, where the
// object's own "doesn't support this property or method" names it.
HRESULT ObjectDispatch::GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID, DISPID *ids)
{
    if (!names || !ids)
        return E_POINTER;
    for (UINT i = 0; i < count; ++i)
        ids[i] = nameTable().idOf(QString::fromWCharArray(names[i]));
    return S_OK;
}

HRESULT ObjectDispatch::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params, VARIANT *result, EXCEPINFO *exception,
                               UINT *badArgument)
{
    QString member;
    if (!nameTable().nameOf(id, &member))
        return DISP_E_MEMBERNOTFOUND;
    const bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
    try {
        Args args;
        automation::Variant assigned;
        bool haveAssigned = false;
        const UINT argCount = params ? params->cArgs : 0;
        const UINT namedCount = params ? params->cNamedArgs : 0;
        for (UINT i = 0; i < namedCount; ++i) {
            const DISPID argId = params->rgdispidNamedArgs[i];
            if (badArgument)
                *badArgument = i;
            const automation::Variant value = fromVariant(params->rgvarg[i], nullptr);
            if (argId == DISPID_PROPERTYPUT) {
                assigned = value;
                haveAssigned = true;
                continue;
            }
            QString name;
            if (!nameTable().nameOf(argId, &name))
                return DISP_E_PARAMNOTFOUND;
            args.named.push_back({name, value});
        }
        // The positional arguments arrive last first.
        for (UINT i = argCount; i > namedCount; --i) {
            if (badArgument)
                *badArgument = i - 1;
            args.positional.push_back(fromVariant(params->rgvarg[i - 1], nullptr));
        }
        if (put) {
            if (!haveAssigned)
                return DISP_E_PARAMNOTOPTIONAL;
            args.positional.push_back(assigned);
        }
        const automation::Variant value = m_object->invoke(member, put ? InvokeKind::Put : InvokeKind::Get, args);
        if (result && !put) {
            VariantInit(result);
            toVariant(value, result);
        }
        return S_OK;
    } catch (const AutomationError &e) {
        return raise(exception, m_object->className(), e.description());
    } catch (const std::exception &e) {
        return raise(exception, m_object->className(), automation::describe(e));
    }
}

} // namespace com
