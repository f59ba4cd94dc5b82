#include "report/adsi/ComHandles.h"
#include "report/adsi/VariantValue.h"

#include <gtest/gtest.h>

namespace quindral {
namespace {

using V = DirectoryValue;

// A SAFEARRAY of VARIANTs with the given lower bound, holding the given VARIANTs.
SAFEARRAY* VariantArray(LONG lowerBound, std::vector<VARIANT> values) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(values.size()), lowerBound};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) {
        LONG index = lowerBound + i;
        SafeArrayPutElement(array, &index, &values[static_cast<std::size_t>(i)]);
        VariantClear(&values[static_cast<std::size_t>(i)]);
    }
    return array;
}

VARIANT Text(const wchar_t* text) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
    return v;
}

VARIANT Of(VARTYPE type) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = type;
    return v;
}

TEST(ValueFromVariant, Scalars) {
    UniqueVariant text;
    *text.get() = Text(L"DC=z\u00FCrich,DC=test");
    EXPECT_EQ(ValueFromVariant(*text), V::Text("DC=z\xC3\xBCrich,DC=test"));
    EXPECT_EQ(ValueFromVariant(Of(VT_EMPTY)), V::Empty());
    EXPECT_EQ(ValueFromVariant(Of(VT_NULL)), V::Null());

    VARIANT number = Of(VT_I4);
    V_I4(&number) = -7;
    EXPECT_EQ(ValueFromVariant(number), V::Integer(-7));
    VARIANT big = Of(VT_I8);
    V_I8(&big) = 1LL << 40;
    EXPECT_EQ(ValueFromVariant(big), V::Integer(1LL << 40));
    VARIANT real = Of(VT_R8);
    V_R8(&real) = 0.5;
    EXPECT_EQ(ValueFromVariant(real), V::Real(0.5));
    VARIANT flag = Of(VT_BOOL);
    V_BOOL(&flag) = VARIANT_TRUE;
    EXPECT_EQ(ValueFromVariant(flag), V::Boolean(true));
    VARIANT object = Of(VT_DISPATCH);
    V_DISPATCH(&object) = nullptr;
    EXPECT_EQ(ValueFromVariant(object), V::Object());
    VARIANT date = Of(VT_DATE);
    V_DATE(&date) = 45000;
    EXPECT_EQ(ValueFromVariant(date).ToText(), std::nullopt);
}

TEST(ValueFromVariant, ReferenceIsFollowed) {
    LONG target = 12;
    VARIANT reference = Of(VT_I4 | VT_BYREF);
    V_I4REF(&reference) = &target;
    EXPECT_EQ(ValueFromVariant(reference), V::Integer(12));
}

TEST(ValueFromVariant, ArrayOfVariantsKeepsOrderAndLowerBound) {
    UniqueVariant list;
    V_VT(list.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(list.get()) = VariantArray(0, {Text(L"DC=a"), Of(VT_NULL), Text(L"DC=c")});
    EXPECT_EQ(ValueFromVariant(*list), V::List({V::Text("DC=a"), V::Null(), V::Text("DC=c")}));

    UniqueVariant shifted;
    V_VT(shifted.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(shifted.get()) = VariantArray(1, {Text(L"x"), Text(L"y")});
    const V value = ValueFromVariant(*shifted);
    EXPECT_EQ(value.LowerBound(), 1);
    EXPECT_EQ(value.UpperBound(), 2);
    EXPECT_EQ(value.Element(0), nullptr);

    UniqueVariant empty;
    V_VT(empty.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(empty.get()) = VariantArray(0, {});
    EXPECT_EQ(ValueFromVariant(*empty).UpperBound(), -1);
}

TEST(ValueFromVariant, ArraysOfOtherElementTypes) {
    SAFEARRAYBOUND bound{2, 0};
    UniqueVariant texts;
    V_VT(texts.get()) = VT_ARRAY | VT_BSTR;
    V_ARRAY(texts.get()) = SafeArrayCreate(VT_BSTR, 1, &bound);
    for (LONG i = 0; i < 2; ++i) {
        UniqueBstr text(i == 0 ? L"first" : L"second");
        SafeArrayPutElement(V_ARRAY(texts.get()), &i, text.get());
    }
    EXPECT_EQ(ValueFromVariant(*texts), V::List({V::Text("first"), V::Text("second")}));

    UniqueVariant bytes;
    V_VT(bytes.get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(bytes.get()) = SafeArrayCreate(VT_UI1, 1, &bound);
    for (LONG i = 0; i < 2; ++i) {
        BYTE b = static_cast<BYTE>(0xF0 + i);
        SafeArrayPutElement(V_ARRAY(bytes.get()), &i, &b);
    }
    EXPECT_EQ(ValueFromVariant(*bytes), V::List({V::Integer(0xF0), V::Integer(0xF1)}));

    SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
    UniqueVariant grid;
    V_VT(grid.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(grid.get()) = SafeArrayCreate(VT_VARIANT, 2, square);
    const V twoDimensional = ValueFromVariant(*grid);
    EXPECT_TRUE(twoDimensional.IsList());
    EXPECT_TRUE(twoDimensional.Elements().empty());
}

} // namespace
} // namespace quindral
