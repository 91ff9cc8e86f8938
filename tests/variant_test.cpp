// VARIANT handling of the compatibility layer: the automation coercions that late
// binding relies on, and the layout shared with Windows x64 hosts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "TestSupport.h"
#include "compat/win32.h"

using testing_support::MakeVariant;
using testing_support::Narrow;
using testing_support::Wide;

namespace {

VARIANT Text(const char* psz) { return MakeVariant(VT_BSTR, SysAllocString(Wide(psz).c_str())); }
VARIANT I4(LONG l) { return MakeVariant(VT_I4, l); }
VARIANT UI4(ULONG ul) { return MakeVariant(VT_UI4, ul); }
VARIANT R8(double d) { return MakeVariant(VT_R8, d); }
VARIANT Bool(VARIANT_BOOL b) { return MakeVariant(VT_BOOL, b); }
const VARIANT s_null = MakeVariant(VT_NULL, 0);

double NumberOf(const VARIANT& v)
{
    switch (v.vt) {
    case VT_UI1: return v.bVal;
    case VT_I2: return v.iVal;
    case VT_I4: return v.lVal;
    case VT_UI4: return v.ulVal;
    case VT_BOOL: return v.boolVal;
    default: ADD_FAILURE() << "not a number: vt " << v.vt; return 0;
    }
}

// A source, the type asked for, the outcome, and the value: a number, or text for VT_BSTR.
struct CCase {
    VARIANT in;
    VARTYPE vt;
    HRESULT hr;
    double d;
    const char* psz;
    USHORT wFlags;
};
CCase Gives(VARIANT in, VARTYPE vt, double d) { return {in, vt, S_OK, d, nullptr, 0}; }
CCase Fails(VARIANT in, VARTYPE vt, HRESULT hr = DISP_E_OVERFLOW) { return {in, vt, hr, 0, nullptr, 0}; }
CCase Writes(VARIANT in, const char* psz, USHORT wFlags = 0) { return {in, VT_BSTR, S_OK, 0, psz, wFlags}; }

// Each case converts into a fresh variant: a success gives the type asked for with
// the value (text whole, its length prefix right); a failure leaves the destination alone.
void ExpectConversions(const std::vector<CCase>& cases)
{
    for (size_t i = 0; i < cases.size(); ++i) {
        const CCase& c = cases[i];
        SCOPED_TRACE(::testing::Message() << "case " << i << ": vt " << c.in.vt << " to vt " << c.vt);
        VARIANT in = c.in, out = I4(0x5A5A5A5A);
        EXPECT_EQ(c.hr, VariantChangeType(&out, &in, c.wFlags, c.vt));
        const VARTYPE vtExpected = c.hr == S_OK ? c.vt : VARTYPE(VT_I4);
        ASSERT_EQ(vtExpected, out.vt);
        if (out.vt == VT_BSTR) {
            ASSERT_NE(nullptr, out.bstrVal);
            EXPECT_EQ(WStrLen(out.bstrVal), SysStringLen(out.bstrVal));
            EXPECT_EQ(c.psz, Narrow(out.bstrVal));
        } else {
            EXPECT_EQ(c.hr == S_OK ? c.d : 0x5A5A5A5A, NumberOf(out));
        }
        VariantClear(&out);
        VariantClear(&in);
    }
}

// A counted object answering IUnknown and, unless told otherwise, IDispatch.
class CCountedObject final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || (m_bDispatch && riid == IID_IDispatch) ? static_cast<IDispatch*>(this) : nullptr;
        if (*ppv != nullptr) {
            AddRef();
        }
        return *ppv != nullptr ? S_OK : E_NOINTERFACE;
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
    IUnknown* Unk() { return static_cast<IDispatch*>(this); }

    ULONG m_cRef = 1;
    bool m_bDispatch = true;
};

}  // namespace

TEST(VariantLayoutTest, StructuresKeepTheWindowsX64Layout)
{
    // Sizes and offsets of VARIANT, DISPPARAMS, EXCEPINFO and MSG in turn.
    EXPECT_EQ((std::vector<size_t>{24, 0, 8, 8, 8, 24, 8, 16, 20, 64, 8, 32, 56, 48, 8, 16, 32, 36}),
              (std::vector<size_t>{
                  sizeof(VARIANT), offsetof(VARIANT, vt), offsetof(VARIANT, lVal), offsetof(VARIANT, bstrVal),
                  offsetof(VARIANT, brecVal), sizeof(DISPPARAMS), offsetof(DISPPARAMS, rgdispidNamedArgs),
                  offsetof(DISPPARAMS, cArgs), offsetof(DISPPARAMS, cNamedArgs), sizeof(EXCEPINFO),
                  offsetof(EXCEPINFO, bstrSource), offsetof(EXCEPINFO, dwHelpContext), offsetof(EXCEPINFO, scode),
                  sizeof(MSG), offsetof(MSG, message), offsetof(MSG, wParam), offsetof(MSG, time), offsetof(MSG, pt)}));
    EXPECT_EQ(2u, sizeof(VARIANT_BOOL));
    EXPECT_EQ(-1, VARIANT_TRUE);
}

TEST(VariantChangeTypeTest, ValuesConvertOrOverflowLikeAutomation)
{
    LONG lLarge = 300;
    BSTR bsText = SysAllocString(WTEXT("17"));
    ExpectConversions({
        // Integer widths at and beyond their limits.
        Fails(I4(256), VT_UI1), Gives(I4(255), VT_UI1, 255), Fails(I4(-1), VT_UI1), Fails(I4(32768), VT_I2),
        Gives(I4(-32768), VT_I2, -32768), Gives(I4(32767), VT_I2, 32767), Fails(UI4(0x80000000u), VT_I4),
        Fails(MakeVariant(VT_I8, LONGLONG(-1)), VT_UI8), Fails(MakeVariant(VT_UI2, USHORT(65535)), VT_I2),
        // Reals: halves go to the even neighbour, and rounding decides whether a value fits.
        Gives(R8(2.5), VT_I4, 2), Gives(R8(3.5), VT_I4, 4), Fails(R8(32767.5), VT_I2), Fails(R8(1e300), VT_I8),
        Fails(R8(std::nan("")), VT_I4),
        // Text in the invariant form, blanks around it allowed; anything else is no number.
        Gives(Text(" 42 "), VT_I4, 42), Fails(Text("4294967296"), VT_UI4),
        Fails(Text("12abc"), VT_I4, DISP_E_TYPEMISMATCH),
        Writes(MakeVariant(VT_I8, LONGLONG(INT64_MIN)), "-9223372036854775808"), Writes(R8(0.1), "0.1"),
        // True is all bits set; any non-zero value is true.
        Gives(Bool(VARIANT_TRUE), VT_UI4, 0xFFFFFFFFu), Gives(I4(5), VT_BOOL, VARIANT_TRUE),
        Writes(Bool(VARIANT_TRUE), "-1"), Fails(s_null, VT_I4, DISP_E_TYPEMISMATCH),
        // By reference: the value pointed at; a by-reference target is refused.
        Fails(MakeVariant(VT_I4 | VT_BYREF, &lLarge), VT_UI1), Gives(MakeVariant(VT_BSTR | VT_BYREF, &bsText), VT_I4, 17),
        Fails(I4(1), VT_I4 | VT_BYREF, DISP_E_BADVARTYPE),
    });
    SysFreeString(bsText);
}

// Each conversion hands out the same object with one reference of its own, and in
// place releases what it replaces; a failure holds nothing.
TEST(VariantChangeTypeTest, InterfacesConvertWithTheirReferences)
{
    CCountedObject object, plain;
    plain.m_bDispatch = false;
    IUnknown* pUnknown = object.Unk();
    for (VARIANT in : {MakeVariant(VT_DISPATCH, static_cast<IDispatch*>(&object)), MakeVariant(VT_UNKNOWN, object.Unk()),
                       MakeVariant(VT_UNKNOWN | VT_BYREF, &pUnknown)}) {
        const VARTYPE vt = in.vt == VT_DISPATCH ? VT_UNKNOWN : VT_DISPATCH;
        VARIANT out;
        VariantInit(&out);
        EXPECT_EQ(S_OK, VariantChangeType(&out, &in, 0, vt));
        EXPECT_EQ(vt, out.vt);
        EXPECT_EQ(object.Unk(), out.punkVal);
        EXPECT_EQ(2u, object.m_cRef);
        EXPECT_EQ(S_OK, VariantChangeType(&out, &out, 0, VARTYPE(VT_UNKNOWN + VT_DISPATCH - vt)));
        EXPECT_EQ(2u, object.m_cRef) << "the variant still holds exactly one reference";
        VariantClear(&out);
        EXPECT_EQ(1u, object.m_cRef);
    }
    object.AddRef();
    plain.AddRef();
    ExpectConversions({Fails(MakeVariant(VT_UNKNOWN, plain.Unk()), VT_DISPATCH, DISP_E_TYPEMISMATCH),
                       Fails(MakeVariant(VT_UNKNOWN, object.Unk()), VT_I4, DISP_E_TYPEMISMATCH),
                       Fails(I4(1), VT_UNKNOWN, DISP_E_TYPEMISMATCH)});
    EXPECT_EQ(1u, plain.m_cRef);
    EXPECT_EQ(1u, object.m_cRef);
}
