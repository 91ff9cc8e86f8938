// VARIANT handling of the compatibility layer: the automation coercions that late
// binding relies on, copying and clearing, and the binary layout shared with
// Windows x64 hosts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>

#include "TestSupport.h"
#include "compat/win32.h"

using testing_support::Narrow;
using testing_support::Wide;

namespace {

template <typename T>
VARIANT Make(VARTYPE vt, T value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    std::memcpy(&v.llVal, &value, sizeof(T));
    return v;
}
VARIANT Text(const char* pszUtf8)
{
    return Make(VT_BSTR, SysAllocString(Wide(pszUtf8).c_str()));
}

// Converts and reports the outcome; the value lands in out.
HRESULT Change(VARIANT& out, VARIANT in, VARTYPE vt, USHORT wFlags = 0)
{
    VariantInit(&out);
    return VariantChangeType(&out, &in, wFlags, vt);
}

// The converted value as a 64-bit integer, whatever its integer width.
LONGLONG IntegerOf(const VARIANT& v)
{
    switch (v.vt) {
    case VT_I1: return v.cVal;
    case VT_UI1: return v.bVal;
    case VT_I2: return v.iVal;
    case VT_UI2: return v.uiVal;
    case VT_I4: return v.lVal;
    case VT_UI4: return v.ulVal;
    case VT_INT: return v.intVal;
    case VT_UINT: return v.uintVal;
    case VT_I8: return v.llVal;
    case VT_UI8: return LONGLONG(v.ullVal);
    default: ADD_FAILURE() << "not an integer: vt " << v.vt; return 0;
    }
}

std::string TextOf(VARIANT in, USHORT wFlags = 0)
{
    VARIANT out;
    const HRESULT hr = Change(out, in, VT_BSTR, wFlags);
    EXPECT_EQ(S_OK, hr);
    std::string str = hr == S_OK && out.vt == VT_BSTR && out.bstrVal != nullptr ? Narrow(out.bstrVal) : "<none>";
    VariantClear(&out);
    return str;
}

// A counted object answering IUnknown and, unless told otherwise, IDispatch.
class CCountedObject final : public IDispatch {
public:
    explicit CCountedObject(bool bDispatch = true) : m_bDispatch(bDispatch) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        ++m_nQueries;
        if (riid == IID_IUnknown || (m_bDispatch && riid == IID_IDispatch)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_cRef; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    ULONG m_cRef = 1;
    int m_nQueries = 0;

private:
    bool m_bDispatch;
};

struct CIntegerCase {
    VARIANT in;
    VARTYPE vt;
    HRESULT hr;
    LONGLONG llExpected;
};

void ExpectIntegerCases(const char* pszGroup, const std::vector<CIntegerCase>& cases)
{
    for (size_t i = 0; i < cases.size(); ++i) {
        const CIntegerCase& c = cases[i];
        VARIANT out;
        const HRESULT hr = Change(out, c.in, c.vt);
        EXPECT_EQ(c.hr, hr) << pszGroup << " case " << i;
        if (hr == S_OK) {
            EXPECT_EQ(c.vt, out.vt) << pszGroup << " case " << i;
            EXPECT_EQ(c.llExpected, IntegerOf(out)) << pszGroup << " case " << i;
        } else {
            EXPECT_EQ(VT_EMPTY, out.vt) << pszGroup << " case " << i << ": a failed conversion writes nothing";
        }
        VARIANT in = c.in;
        VariantClear(&in);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Layout

TEST(VariantLayoutTest, StructuresKeepTheWindowsX64Layout)
{
    EXPECT_EQ(24u, sizeof(VARIANT));
    EXPECT_EQ(0u, offsetof(VARIANT, vt));
    EXPECT_EQ(8u, offsetof(VARIANT, lVal));
    EXPECT_EQ(8u, offsetof(VARIANT, bstrVal));
    EXPECT_EQ(8u, offsetof(VARIANT, brecVal));
    EXPECT_EQ(24u, sizeof(DISPPARAMS));
    EXPECT_EQ(8u, offsetof(DISPPARAMS, rgdispidNamedArgs));
    EXPECT_EQ(16u, offsetof(DISPPARAMS, cArgs));
    EXPECT_EQ(20u, offsetof(DISPPARAMS, cNamedArgs));
    EXPECT_EQ(64u, sizeof(EXCEPINFO));
    EXPECT_EQ(8u, offsetof(EXCEPINFO, bstrSource));
    EXPECT_EQ(32u, offsetof(EXCEPINFO, dwHelpContext));
    EXPECT_EQ(56u, offsetof(EXCEPINFO, scode));
    EXPECT_EQ(48u, sizeof(MSG));
    EXPECT_EQ(8u, offsetof(MSG, message));
    EXPECT_EQ(16u, offsetof(MSG, wParam));
    EXPECT_EQ(32u, offsetof(MSG, time));
    EXPECT_EQ(36u, offsetof(MSG, pt));
    EXPECT_EQ(2u, sizeof(VARIANT_BOOL));
    EXPECT_EQ(-1, VARIANT_TRUE);
}

// ---------------------------------------------------------------------------
// Numbers

TEST(VariantChangeTypeTest, IntegersOutOfRangeOverflow)
{
    ExpectIntegerCases(
        "widths", {
                      {Make(VT_I4, LONG(-1)), VT_UI4, DISP_E_OVERFLOW, 0},
                      {Make(VT_I4, LONG(256)), VT_UI1, DISP_E_OVERFLOW, 0},
                      {Make(VT_I4, LONG(255)), VT_UI1, S_OK, 255},
                      {Make(VT_I4, LONG(-1)), VT_UI1, DISP_E_OVERFLOW, 0},
                      {Make(VT_I4, LONG(-128)), VT_I1, S_OK, -128},
                      {Make(VT_I4, LONG(128)), VT_I1, DISP_E_OVERFLOW, 0},
                      {Make(VT_I4, LONG(32768)), VT_I2, DISP_E_OVERFLOW, 0},
                      {Make(VT_I4, LONG(-32768)), VT_I2, S_OK, -32768},
                      {Make(VT_I4, LONG(65535)), VT_UI2, S_OK, 65535},
                      {Make(VT_I4, LONG(65536)), VT_UI2, DISP_E_OVERFLOW, 0},
                      {Make(VT_UI4, ULONG(0x80000000u)), VT_I4, DISP_E_OVERFLOW, 0},
                      {Make(VT_UI4, ULONG(0x80000000u)), VT_INT, DISP_E_OVERFLOW, 0},
                      {Make(VT_UI4, ULONG(0xFFFFFFFFu)), VT_UINT, S_OK, 0xFFFFFFFFLL},
                      {Make(VT_I8, LONGLONG(0x100000000LL)), VT_UI4, DISP_E_OVERFLOW, 0},
                      {Make(VT_I8, LONGLONG(0xFFFFFFFFLL)), VT_UI4, S_OK, 0xFFFFFFFFLL},
                      {Make(VT_I8, LONGLONG(-1)), VT_UI8, DISP_E_OVERFLOW, 0},
                      {Make(VT_UI8, ULONGLONG(~0ULL)), VT_I8, DISP_E_OVERFLOW, 0},
                      {Make(VT_UI4, ULONG(0xFFFFFFFFu)), VT_I8, S_OK, 0xFFFFFFFFLL},
                      {Make(VT_I2, SHORT(-1)), VT_I8, S_OK, -1},
                      {Make(VT_UI1, BYTE(200)), VT_I1, DISP_E_OVERFLOW, 0},
                      {Make(VT_I1, CHAR(-5)), VT_I4, S_OK, -5},
                      {Make(VT_UI2, USHORT(65535)), VT_I2, DISP_E_OVERFLOW, 0},
                  });
}

TEST(VariantChangeTypeTest, RealsRoundHalfToEven)
{
    ExpectIntegerCases("reals", {
                                    {Make(VT_R8, 2.5), VT_I4, S_OK, 2},
                                    {Make(VT_R8, 3.5), VT_I4, S_OK, 4},
                                    {Make(VT_R8, -2.5), VT_I4, S_OK, -2},
                                    {Make(VT_R8, -3.5), VT_I4, S_OK, -4},
                                    {Make(VT_R8, 0.5), VT_UI4, S_OK, 0},
                                    {Make(VT_R8, 1.5), VT_UI1, S_OK, 2},
                                    {Make(VT_R8, 2.4999), VT_I2, S_OK, 2},
                                    {Make(VT_R8, 2.5001), VT_I2, S_OK, 3},
                                    {Make(VT_R4, 2.5f), VT_I2, S_OK, 2},
                                    {Make(VT_R4, -7.75f), VT_I4, S_OK, -8},
                                    {Make(VT_R8, -0.4), VT_UI4, S_OK, 0},
                                    {Make(VT_R8, -0.6), VT_UI4, DISP_E_OVERFLOW, 0},
                                    {Make(VT_R8, 255.5), VT_UI1, DISP_E_OVERFLOW, 0},
                                    {Make(VT_R8, 4294967295.4), VT_UI4, S_OK, 0xFFFFFFFFLL},
                                    {Make(VT_R8, 4294967295.5), VT_UI4, DISP_E_OVERFLOW, 0},
                                    {Make(VT_R8, 1e300), VT_I8, DISP_E_OVERFLOW, 0},
                                    {Make(VT_R8, std::nan("")), VT_I4, DISP_E_OVERFLOW, 0},
                                });
    VARIANT out;
    EXPECT_EQ(S_OK, Change(out, Make(VT_I4, LONG(-7)), VT_R8));
    EXPECT_EQ(VT_R8, out.vt);
    EXPECT_EQ(-7.0, out.dblVal);
    EXPECT_EQ(S_OK, Change(out, Make(VT_R8, 0.25), VT_R4));
    EXPECT_EQ(VT_R4, out.vt);
    EXPECT_EQ(0.25f, out.fltVal);
    EXPECT_EQ(DISP_E_OVERFLOW, Change(out, Make(VT_R8, 1e300), VT_R4));
}

// ---------------------------------------------------------------------------
// Text

TEST(VariantChangeTypeTest, TextToNumbers)
{
    ExpectIntegerCases("text", {
                                   {Text(" 42 "), VT_I4, S_OK, 42},
                                   {Text("1e3"), VT_I4, S_OK, 1000},
                                   {Text("-7"), VT_I4, S_OK, -7},
                                   {Text("+7"), VT_UI1, S_OK, 7},
                                   {Text("-7"), VT_UI4, DISP_E_OVERFLOW, 0},
                                   {Text("12.5"), VT_I4, S_OK, 12},
                                   {Text("13.5"), VT_I4, S_OK, 14},
                                   {Text("4294967295"), VT_UI4, S_OK, 0xFFFFFFFFLL},
                                   {Text("4294967296"), VT_UI4, DISP_E_OVERFLOW, 0},
                                   {Text("-2147483648"), VT_I4, S_OK, -2147483648LL},
                                   {Text("99999999999999999999999"), VT_I8, DISP_E_OVERFLOW, 0},
                                   {Text("abc"), VT_I4, DISP_E_TYPEMISMATCH, 0},
                                   {Text(""), VT_I4, DISP_E_TYPEMISMATCH, 0},
                                   {Text("  "), VT_UI1, DISP_E_TYPEMISMATCH, 0},
                                   {Text("12abc"), VT_I4, DISP_E_TYPEMISMATCH, 0},
                                   {Text("0x10"), VT_I4, DISP_E_TYPEMISMATCH, 0},
                                   {Text("inf"), VT_I4, DISP_E_TYPEMISMATCH, 0},
                                   {Make(VT_BSTR, BSTR(nullptr)), VT_I4, DISP_E_TYPEMISMATCH, 0},
                               });
    VARIANT out;
    VARIANT in = Text("-3.25");
    EXPECT_EQ(S_OK, Change(out, in, VT_R8));
    EXPECT_EQ(-3.25, out.dblVal);
    VariantClear(&in);
}

TEST(VariantChangeTypeTest, NumbersToText)
{
    EXPECT_EQ("-1", TextOf(Make(VT_I4, LONG(-1))));
    EXPECT_EQ("4294967295", TextOf(Make(VT_UI4, ULONG(0xFFFFFFFFu))));
    EXPECT_EQ("-9223372036854775808", TextOf(Make(VT_I8, LONGLONG(INT64_MIN))));
    EXPECT_EQ("18446744073709551615", TextOf(Make(VT_UI8, ULONGLONG(~0ULL))));
    EXPECT_EQ("255", TextOf(Make(VT_UI1, BYTE(255))));
    EXPECT_EQ("-32768", TextOf(Make(VT_I2, SHORT(-32768))));
    EXPECT_EQ("0", TextOf(Make(VT_I4, LONG(0))));
    EXPECT_EQ("12.5", TextOf(Make(VT_R8, 12.5)));
    EXPECT_EQ("-0.25", TextOf(Make(VT_R8, -0.25)));
    EXPECT_EQ("0.1", TextOf(Make(VT_R8, 0.1)));
    // A single-precision value is written with the digits it really has.
    EXPECT_EQ("0.1", TextOf(Make(VT_R4, 0.1f)));
    EXPECT_EQ("3.3", TextOf(Make(VT_R4, 3.3f)));
}

// ---------------------------------------------------------------------------
// Booleans, empty and null

TEST(VariantChangeTypeTest, BooleansAgainstNumbersAndText)
{
    ExpectIntegerCases("bool", {
                                   {Make(VT_BOOL, VARIANT_TRUE), VT_I4, S_OK, -1},
                                   {Make(VT_BOOL, VARIANT_TRUE), VT_I2, S_OK, -1},
                                   {Make(VT_BOOL, VARIANT_TRUE), VT_UI1, S_OK, 255},
                                   {Make(VT_BOOL, VARIANT_TRUE), VT_UI4, S_OK, 0xFFFFFFFFLL},
                                   {Make(VT_BOOL, VARIANT_FALSE), VT_UI4, S_OK, 0},
                               });
    const struct {
        VARIANT in;
        HRESULT hr;
        VARIANT_BOOL bExpected;
    } toBool[] = {
        {Make(VT_I4, LONG(5)), S_OK, VARIANT_TRUE},      {Make(VT_I4, LONG(0)), S_OK, VARIANT_FALSE},
        {Make(VT_UI1, BYTE(1)), S_OK, VARIANT_TRUE},      {Make(VT_R8, 0.5), S_OK, VARIANT_TRUE},
        {Make(VT_R8, 0.0), S_OK, VARIANT_FALSE},          {Text("True"), S_OK, VARIANT_TRUE},
        {Text("false"), S_OK, VARIANT_FALSE},             {Text("0"), S_OK, VARIANT_FALSE},
        {Text("-1"), S_OK, VARIANT_TRUE},                 {Text("2.5"), S_OK, VARIANT_TRUE},
        {Text("yes"), DISP_E_TYPEMISMATCH, VARIANT_FALSE}, {Make(VT_EMPTY, 0), S_OK, VARIANT_FALSE},
    };
    for (const auto& c : toBool) {
        VARIANT out;
        VARIANT in = c.in;
        EXPECT_EQ(c.hr, Change(out, in, VT_BOOL)) << "vt " << in.vt;
        if (c.hr == S_OK) {
            EXPECT_EQ(VT_BOOL, out.vt);
            EXPECT_EQ(c.bExpected, out.boolVal) << "vt " << in.vt;
        }
        VariantClear(&in);
    }
    // Text from booleans: numbers by default, words when asked for.
    EXPECT_EQ("-1", TextOf(Make(VT_BOOL, VARIANT_TRUE)));
    EXPECT_EQ("0", TextOf(Make(VT_BOOL, VARIANT_FALSE)));
    EXPECT_EQ("True", TextOf(Make(VT_BOOL, VARIANT_TRUE), VARIANT_ALPHABOOL));
    EXPECT_EQ("False", TextOf(Make(VT_BOOL, VARIANT_FALSE), VARIANT_ALPHABOOL));
    VARIANT out;
    EXPECT_EQ(S_OK, Change(out, Make(VT_BOOL, VARIANT_TRUE), VT_R8));
    EXPECT_EQ(-1.0, out.dblVal);
}

TEST(VariantChangeTypeTest, EmptyGivesZeroAndNullGivesNothing)
{
    ExpectIntegerCases("empty", {
                                    {Make(VT_EMPTY, 0), VT_I4, S_OK, 0},
                                    {Make(VT_EMPTY, 0), VT_UI1, S_OK, 0},
                                    {Make(VT_EMPTY, 0), VT_UI4, S_OK, 0},
                                    {Make(VT_NULL, 0), VT_I4, DISP_E_TYPEMISMATCH, 0},
                                    {Make(VT_NULL, 0), VT_UI4, DISP_E_TYPEMISMATCH, 0},
                                });
    VARIANT out;
    EXPECT_EQ(S_OK, Change(out, Make(VT_EMPTY, 0), VT_BSTR));
    ASSERT_EQ(VT_BSTR, out.vt);
    EXPECT_NE(nullptr, out.bstrVal);
    EXPECT_EQ(0u, SysStringLen(out.bstrVal));
    VariantClear(&out);
    EXPECT_EQ(S_OK, Change(out, Make(VT_EMPTY, 0), VT_R8));
    EXPECT_EQ(0.0, out.dblVal);
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Change(out, Make(VT_EMPTY, 0), VT_UNKNOWN));
    for (VARTYPE vt : {VT_BSTR, VT_BOOL, VT_R8, VT_UNKNOWN, VT_DISPATCH}) {
        EXPECT_EQ(DISP_E_TYPEMISMATCH, Change(out, Make(VT_NULL, 0), vt)) << vt;
    }
    EXPECT_EQ(S_OK, Change(out, Make(VT_NULL, 0), VT_NULL));
    EXPECT_EQ(VT_NULL, out.vt);
}

// ---------------------------------------------------------------------------
// Interfaces, references and in-place conversion

TEST(VariantChangeTypeTest, InterfacesConvertWithTheirReferences)
{
    CCountedObject object;
    VARIANT out;
    EXPECT_EQ(S_OK, Change(out, Make(VT_DISPATCH, static_cast<IDispatch*>(&object)), VT_UNKNOWN));
    EXPECT_EQ(VT_UNKNOWN, out.vt);
    EXPECT_EQ(static_cast<IUnknown*>(&object), out.punkVal);
    EXPECT_EQ(2u, object.m_cRef);
    VariantClear(&out);
    EXPECT_EQ(1u, object.m_cRef);

    EXPECT_EQ(S_OK, Change(out, Make(VT_UNKNOWN, static_cast<IUnknown*>(&object)), VT_DISPATCH));
    EXPECT_EQ(VT_DISPATCH, out.vt);
    EXPECT_EQ(static_cast<IDispatch*>(&object), out.pdispVal);
    EXPECT_EQ(1, object.m_nQueries);
    EXPECT_EQ(2u, object.m_cRef);
    VariantClear(&out);
    EXPECT_EQ(1u, object.m_cRef);

    // An object without IDispatch cannot become one; nothing is held.
    CCountedObject plain(false);
    out = Make(VT_I4, LONG(99));
    VARIANT in = Make(VT_UNKNOWN, static_cast<IUnknown*>(&plain));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, VariantChangeType(&out, &in, 0, VT_DISPATCH));
    EXPECT_EQ(1u, plain.m_cRef);
    EXPECT_EQ(VT_I4, out.vt) << "a failed conversion leaves the destination alone";
    EXPECT_EQ(99, out.lVal);

    // Null interfaces stay null.
    EXPECT_EQ(S_OK, Change(out, Make(VT_UNKNOWN, static_cast<IUnknown*>(nullptr)), VT_DISPATCH));
    EXPECT_EQ(VT_DISPATCH, out.vt);
    EXPECT_EQ(nullptr, out.pdispVal);
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Change(out, Make(VT_UNKNOWN, static_cast<IUnknown*>(&object)), VT_I4));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Change(out, Make(VT_I4, LONG(1)), VT_UNKNOWN));
    EXPECT_EQ(1u, object.m_cRef);
}

TEST(VariantChangeTypeTest, ByReferenceSourcesAreReadThrough)
{
    LONG lValue = 200;
    VARIANT out;
    EXPECT_EQ(S_OK, Change(out, Make(VT_I4 | VT_BYREF, &lValue), VT_UI1));
    EXPECT_EQ(VT_UI1, out.vt);
    EXPECT_EQ(200, out.bVal);
    lValue = 300;
    EXPECT_EQ(DISP_E_OVERFLOW, Change(out, Make(VT_I4 | VT_BYREF, &lValue), VT_UI1));

    BSTR bsText = SysAllocString(WTEXT("17"));
    EXPECT_EQ(S_OK, Change(out, Make(VT_BSTR | VT_BYREF, &bsText), VT_I4));
    EXPECT_EQ(17, out.lVal);
    EXPECT_EQ(S_OK, Change(out, Make(VT_BSTR | VT_BYREF, &bsText), VT_BSTR));
    EXPECT_NE(bsText, out.bstrVal) << "the text is copied";
    EXPECT_EQ("17", Narrow(out.bstrVal));
    VariantClear(&out);
    EXPECT_EQ("17", Narrow(bsText));
    SysFreeString(bsText);

    VARIANT_BOOL bFlag = VARIANT_TRUE;
    EXPECT_EQ("True", TextOf(Make(VT_BOOL | VT_BYREF, &bFlag), VARIANT_ALPHABOOL));
    double dValue = 2.5;
    EXPECT_EQ(S_OK, Change(out, Make(VT_R8 | VT_BYREF, &dValue), VT_I4));
    EXPECT_EQ(2, out.lVal);

    CCountedObject object;
    IUnknown* pUnknown = &object;
    EXPECT_EQ(S_OK, Change(out, Make(VT_UNKNOWN | VT_BYREF, &pUnknown), VT_DISPATCH));
    EXPECT_EQ(2u, object.m_cRef);
    VariantClear(&out);
    EXPECT_EQ(1u, object.m_cRef);

    EXPECT_EQ(DISP_E_TYPEMISMATCH, Change(out, Make(VT_I4 | VT_BYREF, static_cast<LONG*>(nullptr)), VT_I4));
    EXPECT_EQ(DISP_E_BADVARTYPE, Change(out, Make(VT_I4, LONG(1)), VT_I4 | VT_BYREF));
}

TEST(VariantChangeTypeTest, InPlaceConversionReleasesWhatItReplaces)
{
    // Leaks show under the sanitizer build.
    VARIANT v = Text("42");
    EXPECT_EQ(S_OK, VariantChangeType(&v, &v, 0, VT_I4));
    EXPECT_EQ(VT_I4, v.vt);
    EXPECT_EQ(42, v.lVal);
    EXPECT_EQ(S_OK, VariantChangeType(&v, &v, 0, VT_BSTR));
    EXPECT_EQ("42", Narrow(v.bstrVal));
    EXPECT_EQ(S_OK, VariantChangeType(&v, &v, 0, VT_BSTR));
    EXPECT_EQ("42", Narrow(v.bstrVal));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, VariantChangeType(&v, &v, 0, VT_UNKNOWN));
    ASSERT_EQ(VT_BSTR, v.vt);
    EXPECT_EQ("42", Narrow(v.bstrVal));
    VariantClear(&v);

    CCountedObject object;
    object.AddRef();
    v = Make(VT_UNKNOWN, static_cast<IUnknown*>(&object));
    EXPECT_EQ(S_OK, VariantChangeType(&v, &v, 0, VT_DISPATCH));
    EXPECT_EQ(VT_DISPATCH, v.vt);
    EXPECT_EQ(2u, object.m_cRef) << "the variant still holds exactly one reference";
    EXPECT_EQ(S_OK, VariantChangeType(&v, &v, 0, VT_UNKNOWN));
    EXPECT_EQ(2u, object.m_cRef);
    VariantClear(&v);
    EXPECT_EQ(1u, object.m_cRef);
}

// ---------------------------------------------------------------------------
// Copy and clear

TEST(VariantCopyTest, CopiesTextAndAddsReferences)
{
    const OLECHAR szWithZero[] = {u'a', 0, u'b'};
    VARIANT src = Make(VT_BSTR, SysAllocStringLen(szWithZero, 3));
    VARIANT dest = Text("old text, freed by the copy");
    EXPECT_EQ(S_OK, VariantCopy(&dest, &src));
    ASSERT_EQ(VT_BSTR, dest.vt);
    EXPECT_NE(src.bstrVal, dest.bstrVal);
    ASSERT_EQ(3u, SysStringLen(dest.bstrVal));
    EXPECT_EQ(0, std::memcmp(szWithZero, dest.bstrVal, sizeof(szWithZero)));
    VariantClear(&src);
    EXPECT_EQ(u'b', dest.bstrVal[2]) << "the copy outlives its source";
    EXPECT_EQ(S_OK, VariantCopy(&dest, &dest));
    EXPECT_EQ(3u, SysStringLen(dest.bstrVal));

    CCountedObject object;
    src = Make(VT_DISPATCH, static_cast<IDispatch*>(&object));
    EXPECT_EQ(S_OK, VariantCopy(&dest, &src));
    EXPECT_EQ(VT_DISPATCH, dest.vt);
    EXPECT_EQ(2u, object.m_cRef);
    VARIANT second;
    VariantInit(&second);
    EXPECT_EQ(S_OK, VariantCopy(&second, &dest));
    EXPECT_EQ(3u, object.m_cRef);
    VariantClear(&second);
    VariantClear(&dest);
    EXPECT_EQ(1u, object.m_cRef);

    // By-reference variants are copied as references.
    LONG lValue = 5;
    src = Make(VT_I4 | VT_BYREF, &lValue);
    EXPECT_EQ(S_OK, VariantCopy(&dest, &src));
    EXPECT_EQ(VT_I4 | VT_BYREF, dest.vt);
    EXPECT_EQ(&lValue, dest.plVal);
    EXPECT_EQ(E_INVALIDARG, VariantCopy(nullptr, &src));
    EXPECT_EQ(E_INVALIDARG, VariantCopy(&dest, nullptr));
}

TEST(VariantCopyTest, ClearFreesOwnedValuesAndEmpties)
{
    VARIANT v = Text("freed");
    EXPECT_EQ(S_OK, VariantClear(&v));
    EXPECT_EQ(VT_EMPTY, v.vt);

    CCountedObject object;
    object.AddRef();
    v = Make(VT_UNKNOWN, static_cast<IUnknown*>(&object));
    EXPECT_EQ(S_OK, VariantClear(&v));
    EXPECT_EQ(1u, object.m_cRef);
    EXPECT_EQ(VT_EMPTY, v.vt);
    EXPECT_EQ(S_OK, VariantClear(&v));

    // A reference owns nothing: what it points at stays.
    BSTR bsKept = SysAllocString(WTEXT("kept"));
    IUnknown* pUnknown = &object;
    for (VARIANT byRef : {Make(VT_BSTR | VT_BYREF, &bsKept), Make(VT_UNKNOWN | VT_BYREF, &pUnknown)}) {
        EXPECT_EQ(S_OK, VariantClear(&byRef));
        EXPECT_EQ(VT_EMPTY, byRef.vt);
    }
    EXPECT_EQ("kept", Narrow(bsKept));
    EXPECT_EQ(1u, object.m_cRef);
    SysFreeString(bsKept);

    v = Make(VT_R8, 1.5);
    EXPECT_EQ(S_OK, VariantClear(&v));
    EXPECT_EQ(VT_EMPTY, v.vt);
    EXPECT_EQ(0, v.llVal);
    EXPECT_EQ(E_INVALIDARG, VariantClear(nullptr));
}
