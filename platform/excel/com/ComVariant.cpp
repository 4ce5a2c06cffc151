#include "platform/excel/com/ComVariant.h"

#include "platform/excel/com/ComRef.h"
#include "platform/excel/com/ObjectDispatch.h"
#include "platform/excel/com/RemoteObject.h"

using automation::AutomationError;
using automation::Variant;

namespace com {

namespace {
constexpr uint32_t kCvErrFacility = 0x800A0000u; // FACILITY_CONTROL with the error bit

Variant asNumber(const VARIANT &value)
{
    VariantArg number;
    if (FAILED(VariantChangeType(number.get(), const_cast<VARIANT *>(&value), 0, VT_R8)))
        throw AutomationError(automation::kTypeMismatch);
    return number.value().dblVal;
}
} // namespace

Variant fromVariant(const VARIANT &value, const std::shared_ptr<Link> &link)
{
    if (V_VT(&value) & VT_BYREF) {
        // What a script passes by reference arrives as a pointer to the value.
        VariantArg plain;
        if (FAILED(VariantCopyInd(plain.get(), const_cast<VARIANT *>(&value))))
            throw AutomationError(automation::kTypeMismatch);
        return fromVariant(plain.value(), link);
    }
    switch (V_VT(&value)) {
    case VT_EMPTY:
    case VT_NULL:
        return {};
    case VT_BOOL:
        return Variant::fromBool(V_BOOL(&value) != VARIANT_FALSE);
    case VT_I2:
        return Variant(int16_t(V_I2(&value)));
    case VT_I4:
        return Variant(int32_t(V_I4(&value)));
    case VT_R8:
        return Variant(V_R8(&value));
    case VT_R4:
        return Variant(double(V_R4(&value)));
    case VT_DATE:
        return Variant(double(V_DATE(&value)));
    case VT_BSTR:
        return Variant(QString::fromWCharArray(V_BSTR(&value), int(SysStringLen(V_BSTR(&value)))));
    case VT_ERROR: {
        const auto scode = uint32_t(V_ERROR(&value));
        if (scode == uint32_t(DISP_E_PARAMNOTFOUND))
            return {};
        if ((scode & 0xFFFF0000u) == kCvErrFacility)
            return Variant::fromError(int32_t(scode & 0xFFFF));
        throw AutomationError(automation::kTypeMismatch + QStringLiteral(" (error code 0x%1)").arg(scode, 8, 16, QLatin1Char('0')));
    }
    case VT_DISPATCH: {
        if (!V_DISPATCH(&value))
            return Variant(automation::ObjectRef());
        auto shared = link ? link : std::make_shared<Link>();
        return Variant(automation::ObjectRef(std::make_shared<RemoteObject>(ComRef<IDispatch>::share(V_DISPATCH(&value)), shared)));
    }
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_CY:
    case VT_DECIMAL:
        return asNumber(value);
    default:
        throw AutomationError(automation::kTypeMismatch + QStringLiteral(" (a value of type %1)").arg(V_VT(&value)));
    }
}

void toVariant(const Variant &value, VARIANT *out)
{
    switch (value.type()) {
    case Variant::Type::Empty:
        V_VT(out) = VT_EMPTY;
        return;
    case Variant::Type::Bool:
        V_VT(out) = VT_BOOL;
        V_BOOL(out) = value.toBool() ? VARIANT_TRUE : VARIANT_FALSE;
        return;
    case Variant::Type::Int16:
        V_VT(out) = VT_I2;
        V_I2(out) = value.toInt16();
        return;
    case Variant::Type::Int32:
        V_VT(out) = VT_I4;
        V_I4(out) = value.toInt32();
        return;
    case Variant::Type::Double:
        V_VT(out) = VT_R8;
        V_R8(out) = value.toDouble();
        return;
    case Variant::Type::String: {
        const QString text = value.toString();
        BSTR b = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.utf16()), UINT(text.size()));
        if (!b)
            throw AutomationError(QStringLiteral("Out of memory"));
        V_VT(out) = VT_BSTR;
        V_BSTR(out) = b;
        return;
    }
    case Variant::Type::Error:
        V_VT(out) = VT_ERROR;
        V_ERROR(out) = errorScode(value.errorCode());
        return;
    case Variant::Type::Object: {
        const automation::ObjectRef object = value.toObject();
        V_VT(out) = VT_DISPATCH;
        if (!object)
            V_DISPATCH(out) = nullptr;
        else if (auto *remote = dynamic_cast<RemoteObject *>(object.get()))
            V_DISPATCH(out) = ComRef<IDispatch>::share(remote->dispatch()).detach();
        else
            V_DISPATCH(out) = ObjectDispatch::create(object);
        return;
    }
    }
}

} // namespace com
