#pragma once
// The one place where a COM VARIANT and an automation::Variant turn into each other, for the
// client (RemoteObject) and for our own server (ObjectDispatch) alike.
//
//   VT_EMPTY, VT_NULL   <-> Empty
//   VT_BOOL (-1 / 0)    <-> Bool
//   VT_I2, VT_I4        <-> Int16, Int32 (other integers and VT_CY / VT_DECIMAL read as a number)
//   VT_R8, VT_R4        <-> Double
//   VT_DATE             --> Double (the serial date a cell holds)
//   VT_BSTR             <-> String
//   VT_ERROR 0x800A07D0 + n <-> the error value CVErr(2000 + n); a missing argument
//                           (DISP_E_PARAMNOTFOUND) reads as Empty
//   VT_DISPATCH         <-> Object: a remote object sharing the caller's link, or ours wrapped
//                           for the other side (Nothing is a null VT_DISPATCH)

#include "platform/automation/Variant.h"

#include <objbase.h>
#include <oleauto.h>

#include <memory>

namespace com {

struct Link;

// Raises AutomationError ("Type mismatch") for a type no late-bound caller of a spreadsheet
// gets (arrays, records, interfaces other than IDispatch). An object becomes a RemoteObject
// on link (a new link when null).
automation::Variant fromVariant(const VARIANT &value, const std::shared_ptr<Link> &link);

// Fills out, which must be empty (VariantInit); the caller clears it.
void toVariant(const automation::Variant &value, VARIANT *out);

// A cell's error value as COM carries it: CVErr(2007) is 0x800A07D7.
constexpr HRESULT errorScode(int32_t cvErr) { return HRESULT(0x800A0000u | uint32_t(cvErr & 0xFFFF)); }

} // namespace com
