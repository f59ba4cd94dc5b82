#include "VariantValue.h"

#include "ComHandles.h"
#include "win32/WideText.h"

namespace quindral {

namespace {

DirectoryValue ScalarValue(const VARIANT& v) {
    switch (V_VT(&v)) {
    case VT_EMPTY:
        return DirectoryValue::Empty();
    case VT_NULL:
        return DirectoryValue::Null();
    case VT_BSTR:
        return DirectoryValue::Text(
            Utf8FromWide(std::wstring_view(V_BSTR(&v), SysStringLen(V_BSTR(&v)))));
    case VT_BOOL:
        return DirectoryValue::Boolean(V_BOOL(&v) != VARIANT_FALSE);
    case VT_I1:
        return DirectoryValue::Integer(V_I1(&v));
    case VT_UI1:
        return DirectoryValue::Integer(V_UI1(&v));
    case VT_I2:
        return DirectoryValue::Integer(V_I2(&v));
    case VT_UI2:
        return DirectoryValue::Integer(V_UI2(&v));
    case VT_I4:
        return DirectoryValue::Integer(V_I4(&v));
    case VT_UI4:
        return DirectoryValue::Integer(V_UI4(&v));
    case VT_INT:
        return DirectoryValue::Integer(V_INT(&v));
    case VT_UINT:
        return DirectoryValue::Integer(V_UINT(&v));
    case VT_I8:
        return DirectoryValue::Integer(V_I8(&v));
    case VT_UI8:
        return V_UI8(&v) <= static_cast<ULONGLONG>(INT64_MAX)
                   ? DirectoryValue::Integer(static_cast<std::int64_t>(V_UI8(&v)))
                   : DirectoryValue::Real(static_cast<double>(V_UI8(&v)));
    case VT_R4:
        return DirectoryValue::Real(V_R4(&v));
    case VT_R8:
        return DirectoryValue::Real(V_R8(&v));
    case VT_CY: {
        double number = 0;
        return SUCCEEDED(VarR8FromCy(V_CY(&v), &number)) ? DirectoryValue::Real(number)
                                                         : DirectoryValue::NoTextForm();
    }
    case VT_DECIMAL: {
        double number = 0;
        DECIMAL decimal = V_DECIMAL(&v);
        return SUCCEEDED(VarR8FromDec(&decimal, &number)) ? DirectoryValue::Real(number)
                                                          : DirectoryValue::NoTextForm();
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
        return DirectoryValue::Object();
    default:
        return DirectoryValue::NoTextForm();
    }
}

DirectoryValue ArrayValue(SAFEARRAY* array, VARTYPE elementType) {
    if (array == nullptr) {
        return DirectoryValue::NoTextForm();
    }
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, &upper))) {
        return DirectoryValue::NoTextForm();
    }
    if (SafeArrayGetDim(array) != 1) {
        // One index cannot reach an element of a multi-dimensional array: a list whose every
        // index is missing, so only its heading is written.
        return DirectoryValue::List({}, static_cast<std::int64_t>(upper) + 1);
    }
    std::vector<DirectoryValue> elements;
    if (upper >= lower) {
        elements.reserve(static_cast<std::size_t>(upper - lower + 1));
    }
    for (LONG index = lower; index <= upper; ++index) {
        UniqueVariant element;
        HRESULT hr = E_FAIL;
        if (elementType == VT_VARIANT) {
            hr = SafeArrayGetElement(array, &index, element.get());
        } else if (elementType == VT_BSTR) {
            BSTR text = nullptr;
            hr = SafeArrayGetElement(array, &index, &text);
            if (SUCCEEDED(hr)) {
                V_VT(element.get()) = VT_BSTR;
                V_BSTR(element.get()) = text;
            }
        } else if (elementType == VT_DISPATCH || elementType == VT_UNKNOWN) {
            IUnknown* object = nullptr;
            hr = SafeArrayGetElement(array, &index, &object);
            if (SUCCEEDED(hr)) {
                V_VT(element.get()) = VT_UNKNOWN;
                V_UNKNOWN(element.get()) = object;
            }
        } else if (elementType != VT_RECORD && elementType != VT_EMPTY &&
                   SafeArrayGetElemsize(array) <= sizeof(LONGLONG)) {
            // Plain numbers and booleans fit the VARIANT's value field as they are.
            hr = SafeArrayGetElement(array, &index, &V_I8(element.get()));
            if (SUCCEEDED(hr)) {
                V_VT(element.get()) = elementType;
            }
        }
        elements.push_back(SUCCEEDED(hr) ? ValueFromVariant(*element)
                                         : DirectoryValue::NoTextForm());
        if (index == upper) {
            break; // LONG_MAX as upper bound must not wrap around
        }
    }
    return DirectoryValue::List(std::move(elements), lower);
}

} // namespace

DirectoryValue ValueFromVariant(const VARIANT& variant) {
    if (V_VT(&variant) & VT_BYREF) {
        UniqueVariant direct;
        // The platform's signature takes a non-const source; it only reads it.
        if (FAILED(VariantCopyInd(direct.get(), const_cast<VARIANT*>(&variant)))) {
            return DirectoryValue::NoTextForm();
        }
        return ValueFromVariant(*direct);
    }
    if (V_VT(&variant) & VT_ARRAY) {
        VARTYPE elementType = static_cast<VARTYPE>(V_VT(&variant) & VT_TYPEMASK);
        return ArrayValue(V_ARRAY(&variant), elementType);
    }
    return ScalarValue(variant);
}

} // namespace quindral
