// Property values: deep copies into MAPI buffers, string conversion,
// comparison and restriction evaluation, and the property bag.
#include "Standin.h"

#include <algorithm>

namespace standin {
namespace {

SCODE CopyBytes(void** dst, const void* src, ULONG size, void* parent) {
    if (size == 0) {
        *dst = nullptr;
        return S_OK;
    }
    SCODE sc = AllocateMore(size, parent, dst);
    if (SUCCEEDED(sc))
        memcpy(*dst, src, size);
    return sc;
}

template <class T>
SCODE CopyArray(T** dst, const T* src, ULONG count, void* parent) {
    return CopyBytes(reinterpret_cast<void**>(dst), src, count * sizeof(T), parent);
}

ULONG StringBytesA(const char* s) {
    return s ? static_cast<ULONG>(strlen(s) + 1) : 0;
}
ULONG StringBytesW(const wchar_t* s) {
    return s ? static_cast<ULONG>((wcslen(s) + 1) * sizeof(wchar_t)) : 0;
}

} // namespace

std::wstring Widen(const char* text) {
    if (!text || !*text)
        return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1)
        MultiByteToWideChar(CP_ACP, 0, text, -1, &out[0], n);
    return out;
}

std::string Narrow(const wchar_t* text) {
    if (!text || !*text)
        return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Lower(std::wstring text) {
    if (!text.empty())
        CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

HRESULT CompareEntryIds(ULONG cb1, const ENTRYID* e1, ULONG cb2, const ENTRYID* e2, ULONG* result) {
    if (!e1 || !e2 || !result)
        return MAPI_E_INVALID_PARAMETER;
    *result = cb1 == cb2 && memcmp(e1, e2, cb1) == 0;
    return S_OK;
}

std::wstring ArgText(const void* text, ULONG flags) {
    if (!text)
        return std::wstring();
    if (flags & MAPI_UNICODE)
        return static_cast<const wchar_t*>(text);
    return Widen(static_cast<const char*>(text));
}

std::wstring PropString(const SPropValue* v) {
    if (!v)
        return std::wstring();
    switch (PROP_TYPE(v->ulPropTag)) {
    case PT_UNICODE:
        return v->Value.lpszW ? v->Value.lpszW : L"";
    case PT_STRING8:
        return Widen(v->Value.lpszA);
    default:
        return std::wstring();
    }
}

SCODE CopyPropValue(SPropValue* dst, const SPropValue* src, void* parent) {
    *dst = *src;
    switch (PROP_TYPE(src->ulPropTag)) {
    case PT_STRING8:
        return CopyBytes(reinterpret_cast<void**>(&dst->Value.lpszA), src->Value.lpszA,
                         StringBytesA(src->Value.lpszA), parent);
    case PT_UNICODE:
        return CopyBytes(reinterpret_cast<void**>(&dst->Value.lpszW), src->Value.lpszW,
                         StringBytesW(src->Value.lpszW), parent);
    case PT_BINARY:
        return CopyArray(&dst->Value.bin.lpb, src->Value.bin.lpb, src->Value.bin.cb, parent);
    case PT_CLSID:
        return CopyArray(&dst->Value.lpguid, src->Value.lpguid, src->Value.lpguid ? 1 : 0, parent);
    case PT_MV_LONG:
        return CopyArray(&dst->Value.MVl.lpl, src->Value.MVl.lpl, src->Value.MVl.cValues, parent);
    case PT_MV_BINARY: {
        SCODE sc =
            CopyArray(&dst->Value.MVbin.lpbin, src->Value.MVbin.lpbin, src->Value.MVbin.cValues, parent);
        for (ULONG i = 0; SUCCEEDED(sc) && i < src->Value.MVbin.cValues; ++i)
            sc = CopyArray(&dst->Value.MVbin.lpbin[i].lpb, src->Value.MVbin.lpbin[i].lpb,
                           src->Value.MVbin.lpbin[i].cb, parent);
        return sc;
    }
    case PT_MV_UNICODE: {
        SCODE sc =
            CopyArray(&dst->Value.MVszW.lppszW, src->Value.MVszW.lppszW, src->Value.MVszW.cValues, parent);
        for (ULONG i = 0; SUCCEEDED(sc) && i < src->Value.MVszW.cValues; ++i)
            sc = CopyBytes(reinterpret_cast<void**>(&dst->Value.MVszW.lppszW[i]), src->Value.MVszW.lppszW[i],
                           StringBytesW(src->Value.MVszW.lppszW[i]), parent);
        return sc;
    }
    case PT_MV_STRING8: {
        SCODE sc =
            CopyArray(&dst->Value.MVszA.lppszA, src->Value.MVszA.lppszA, src->Value.MVszA.cValues, parent);
        for (ULONG i = 0; SUCCEEDED(sc) && i < src->Value.MVszA.cValues; ++i)
            sc = CopyBytes(reinterpret_cast<void**>(&dst->Value.MVszA.lppszA[i]), src->Value.MVszA.lppszA[i],
                           StringBytesA(src->Value.MVszA.lppszA[i]), parent);
        return sc;
    }
    default:
        return S_OK; // the value lives in the SPropValue itself
    }
}

SCODE ConvertPropValue(SPropValue* dst, const SPropValue* src, ULONG wantedTag, void* parent) {
    ULONG have = PROP_TYPE(src->ulPropTag);
    ULONG want = PROP_TYPE(wantedTag);
    if (want == PT_STRING8 && have == PT_UNICODE) {
        std::string text = Narrow(src->Value.lpszW);
        SPropValue tmp = *src;
        tmp.ulPropTag = wantedTag;
        tmp.Value.lpszA = const_cast<char*>(text.c_str());
        return CopyPropValue(dst, &tmp, parent);
    }
    if (want == PT_UNICODE && have == PT_STRING8) {
        std::wstring text = Widen(src->Value.lpszA);
        SPropValue tmp = *src;
        tmp.ulPropTag = wantedTag;
        tmp.Value.lpszW = const_cast<wchar_t*>(text.c_str());
        return CopyPropValue(dst, &tmp, parent);
    }
    SCODE sc = CopyPropValue(dst, src, parent);
    if (want != PT_UNSPECIFIED && SUCCEEDED(sc))
        dst->ulPropTag = PROP_TAG(have, PROP_ID(wantedTag));
    return sc;
}

ULONG PropDataSize(const SPropValue* v) {
    switch (PROP_TYPE(v->ulPropTag)) {
    case PT_STRING8:
        return StringBytesA(v->Value.lpszA);
    case PT_UNICODE:
        return StringBytesW(v->Value.lpszW);
    case PT_BINARY:
        return v->Value.bin.cb;
    case PT_CLSID:
        return sizeof(GUID);
    case PT_MV_LONG:
        return v->Value.MVl.cValues * sizeof(LONG);
    case PT_MV_BINARY: {
        ULONG n = v->Value.MVbin.cValues * sizeof(SBinary);
        for (ULONG i = 0; i < v->Value.MVbin.cValues; ++i)
            n += v->Value.MVbin.lpbin[i].cb;
        return n;
    }
    case PT_MV_UNICODE: {
        ULONG n = v->Value.MVszW.cValues * sizeof(wchar_t*);
        for (ULONG i = 0; i < v->Value.MVszW.cValues; ++i)
            n += StringBytesW(v->Value.MVszW.lppszW[i]);
        return n;
    }
    case PT_MV_STRING8: {
        ULONG n = v->Value.MVszA.cValues * sizeof(char*);
        for (ULONG i = 0; i < v->Value.MVszA.cValues; ++i)
            n += StringBytesA(v->Value.MVszA.lppszA[i]);
        return n;
    }
    default:
        return 0;
    }
}

int ComparePropValues(const SPropValue* a, const SPropValue* b) {
    ULONG ta = PROP_TYPE(a->ulPropTag);
    ULONG tb = PROP_TYPE(b->ulPropTag);
    bool sa = ta == PT_STRING8 || ta == PT_UNICODE;
    bool sb = tb == PT_STRING8 || tb == PT_UNICODE;
    if (sa && sb)
        return wcscmp(PropString(a).c_str(), PropString(b).c_str());
    if (ta != tb)
        return ta < tb ? -1 : 1;
    auto cmp = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    switch (ta) {
    case PT_SHORT:
        return cmp(a->Value.i, b->Value.i);
    case PT_LONG:
    case PT_ERROR:
        return cmp(a->Value.l, b->Value.l);
    case PT_BOOLEAN:
        return cmp(a->Value.b != 0, b->Value.b != 0);
    case PT_I8:
        return cmp(a->Value.li.QuadPart, b->Value.li.QuadPart);
    case PT_DOUBLE:
        return cmp(a->Value.dbl, b->Value.dbl);
    case PT_SYSTIME:
        return CompareFileTime(&a->Value.ft, &b->Value.ft);
    case PT_BINARY: {
        if (a->Value.bin.cb != b->Value.bin.cb)
            return a->Value.bin.cb < b->Value.bin.cb ? -1 : 1;
        return a->Value.bin.cb ? memcmp(a->Value.bin.lpb, b->Value.bin.lpb, a->Value.bin.cb) : 0;
    }
    case PT_CLSID:
        return memcmp(a->Value.lpguid, b->Value.lpguid, sizeof(GUID));
    default:
        return 0;
    }
}

namespace {

const SPropValue* FindIn(const SPropValue* props, ULONG count, ULONG tag) {
    for (ULONG i = 0; i < count; ++i)
        if (PROP_ID(props[i].ulPropTag) == PROP_ID(tag) && PROP_TYPE(props[i].ulPropTag) != PT_ERROR)
            return &props[i];
    return nullptr;
}

bool Relate(int c, ULONG relop) {
    switch (relop) {
    case RELOP_LT:
        return c < 0;
    case RELOP_LE:
        return c <= 0;
    case RELOP_GT:
        return c > 0;
    case RELOP_GE:
        return c >= 0;
    case RELOP_EQ:
        return c == 0;
    case RELOP_NE:
        return c != 0;
    default:
        return false;
    }
}

bool ContentMatch(const SContentRestriction& r, const SPropValue* value) {
    if (!value || !r.lpProp)
        return false;
    ULONG level = r.ulFuzzyLevel & 0xFFFF;
    bool ignoreCase = (r.ulFuzzyLevel & FL_IGNORECASE) != 0;
    if (PROP_TYPE(value->ulPropTag) == PT_BINARY) {
        const SBinary& h = value->Value.bin;
        const SBinary& n = r.lpProp->Value.bin;
        if (level == FL_FULLSTRING)
            return h.cb == n.cb && (!h.cb || memcmp(h.lpb, n.lpb, h.cb) == 0);
        if (level == FL_PREFIX)
            return h.cb >= n.cb && (!n.cb || memcmp(h.lpb, n.lpb, n.cb) == 0);
        return std::search(h.lpb, h.lpb + h.cb, n.lpb, n.lpb + n.cb) != h.lpb + h.cb;
    }
    std::wstring hay = PropString(value);
    std::wstring needle = PropString(r.lpProp);
    if (ignoreCase) {
        CharLowerBuffW(&hay[0], static_cast<DWORD>(hay.size()));
        CharLowerBuffW(&needle[0], static_cast<DWORD>(needle.size()));
    }
    if (level == FL_FULLSTRING)
        return hay == needle;
    if (level == FL_PREFIX)
        return hay.compare(0, needle.size(), needle) == 0;
    return hay.find(needle) != std::wstring::npos;
}

} // namespace

bool EvaluateRestriction(const SRestriction* r, const SPropValue* props, ULONG count) {
    if (!r)
        return true;
    switch (r->rt) {
    case RES_AND:
        for (ULONG i = 0; i < r->res.resAnd.cRes; ++i)
            if (!EvaluateRestriction(&r->res.resAnd.lpRes[i], props, count))
                return false;
        return true;
    case RES_OR:
        for (ULONG i = 0; i < r->res.resOr.cRes; ++i)
            if (EvaluateRestriction(&r->res.resOr.lpRes[i], props, count))
                return true;
        return false;
    case RES_NOT:
        return !EvaluateRestriction(r->res.resNot.lpRes, props, count);
    case RES_EXIST:
        return FindIn(props, count, r->res.resExist.ulPropTag) != nullptr;
    case RES_PROPERTY: {
        const SPropValue* v = FindIn(props, count, r->res.resProperty.ulPropTag);
        // A missing property satisfies no relation, not even RELOP_NE.
        if (!v || !r->res.resProperty.lpProp)
            return false;
        return Relate(ComparePropValues(v, r->res.resProperty.lpProp), r->res.resProperty.relop);
    }
    case RES_CONTENT:
        return ContentMatch(r->res.resContent, FindIn(props, count, r->res.resContent.ulPropTag));
    case RES_BITMASK: {
        const SPropValue* v = FindIn(props, count, r->res.resBitMask.ulPropTag);
        if (!v)
            return false;
        bool set = (static_cast<ULONG>(v->Value.l) & r->res.resBitMask.ulMask) != 0;
        return r->res.resBitMask.relBMR == BMR_NEZ ? set : !set;
    }
    default:
        return false;
    }
}

Prop::Prop(const SPropValue& value) {
    SPropValue* p = nullptr;
    if (FAILED(AllocateBuffer(sizeof(SPropValue), reinterpret_cast<void**>(&p))))
        throw std::bad_alloc();
    if (FAILED(CopyPropValue(p, &value, p))) {
        FreeBuffer(p);
        throw std::bad_alloc();
    }
    m_p = p;
}

Prop::Prop(const Prop& o) : Prop() {
    if (o.m_p)
        *this = Prop(*o.m_p);
}

Prop& Prop::operator=(const Prop& o) {
    if (this != &o) {
        SPropValue* old = m_p;
        m_p = nullptr;
        if (o.m_p) {
            Prop copy(*o.m_p);
            std::swap(m_p, copy.m_p);
        }
        FreeBuffer(old);
    }
    return *this;
}

Prop::~Prop() {
    FreeBuffer(m_p);
}

Prop MakeBinary(ULONG tag, const void* data, ULONG size) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.bin.cb = size;
    v.Value.bin.lpb = static_cast<BYTE*>(const_cast<void*>(data));
    return Prop(v);
}

Prop MakeUnicode(ULONG tag, const wchar_t* text) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszW = const_cast<wchar_t*>(text);
    return Prop(v);
}

Prop MakeLong(ULONG tag, LONG value) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = value;
    return Prop(v);
}

Prop MakeBool(ULONG tag, bool value) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.b = value ? 1 : 0;
    return Prop(v);
}

Prop MakeTime(ULONG tag, const FILETIME& value) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.ft = value;
    return Prop(v);
}

void PropBag::Set(const SPropValue& value) {
    m_props[PROP_ID(value.ulPropTag)] = Prop(value);
}

const SPropValue* PropBag::Find(ULONG tag) const {
    auto it = m_props.find(PROP_ID(tag));
    return it == m_props.end() ? nullptr : it->second.get();
}

void PropBag::Delete(ULONG tag) {
    m_props.erase(PROP_ID(tag));
}

namespace {

// Fills values[i] for each tag from the bag; a missing value becomes
// PT_ERROR with MAPI_E_NOT_FOUND. Answers whether any was missing.
bool FillValues(const PropBag& bag, const SPropTagArray* tags, SPropValue* values, void* parent, SCODE* sc) {
    bool missing = false;
    for (ULONG i = 0; i < tags->cValues; ++i) {
        ULONG tag = tags->aulPropTag[i];
        const SPropValue* have = bag.Find(tag);
        ULONG want = PROP_TYPE(tag);
        bool compatible =
            have &&
            (want == PT_UNSPECIFIED || want == PROP_TYPE(have->ulPropTag) ||
             ((want == PT_STRING8 || want == PT_UNICODE) &&
              (PROP_TYPE(have->ulPropTag) == PT_STRING8 || PROP_TYPE(have->ulPropTag) == PT_UNICODE)));
        if (!compatible) {
            values[i].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
            values[i].Value.err = MAPI_E_NOT_FOUND;
            missing = true;
            continue;
        }
        *sc = ConvertPropValue(&values[i], have, tag, parent);
        if (FAILED(*sc))
            return missing;
    }
    return missing;
}

} // namespace

HRESULT PropBag::GetProps(const SPropTagArray* tags, ULONG flags, ULONG* count, SPropValue** out) const {
    if (!count || !out)
        return MAPI_E_INVALID_PARAMETER;
    std::vector<ULONG> all;
    if (!tags) {
        for (const auto& p : m_props) {
            ULONG tag = p.second.tag();
            // Without MAPI_UNICODE every string comes back 8-bit.
            if (PROP_TYPE(tag) == PT_UNICODE && !(flags & MAPI_UNICODE))
                tag = PROP_TAG(PT_STRING8, PROP_ID(tag));
            all.push_back(tag);
        }
    }
    ULONG n = tags ? tags->cValues : static_cast<ULONG>(all.size());
    SPropValue* values = nullptr;
    HRESULT hr = AllocateBuffer(sizeof(SPropValue) * (n ? n : 1), reinterpret_cast<void**>(&values));
    if (FAILED(hr))
        return hr;
    ZeroMemory(values, sizeof(SPropValue) * (n ? n : 1));
    SCODE sc = S_OK;
    bool missing = false;
    if (tags) {
        missing = FillValues(*this, tags, values, values, &sc);
    } else {
        std::vector<BYTE> raw(sizeof(ULONG) * (n + 1));
        SPropTagArray* list = reinterpret_cast<SPropTagArray*>(raw.data());
        list->cValues = n;
        std::copy(all.begin(), all.end(), list->aulPropTag);
        missing = FillValues(*this, list, values, values, &sc);
    }
    if (FAILED(sc)) {
        FreeBuffer(values);
        return sc;
    }
    *count = n;
    *out = values;
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT PropBag::GetPropList(ULONG flags, SPropTagArray** out) const {
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    SPropTagArray* list = nullptr;
    HRESULT hr = AllocateBuffer(static_cast<ULONG>(sizeof(ULONG) * (m_props.size() + 1)),
                                reinterpret_cast<void**>(&list));
    if (FAILED(hr))
        return hr;
    list->cValues = 0;
    for (const auto& p : m_props) {
        ULONG tag = p.second.tag();
        if (PROP_TYPE(tag) == PT_UNICODE && !(flags & MAPI_UNICODE))
            tag = PROP_TAG(PT_STRING8, PROP_ID(tag));
        list->aulPropTag[list->cValues++] = tag;
    }
    *out = list;
    return S_OK;
}

HRESULT PropBag::Row(const SPropTagArray* columns, ULONG* count, SPropValue** out) const {
    HRESULT hr = GetProps(columns, MAPI_UNICODE, count, out);
    return hr == MAPI_W_ERRORS_RETURNED ? S_OK : hr;
}

std::wstring UidHex(const MAPIUID& uid) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    for (BYTE b : uid.ab) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

bool UidFromHex(const std::wstring& text, MAPIUID* uid) {
    if (text.size() != 32)
        return false;
    for (int i = 0; i < 16; ++i) {
        wchar_t pair[3] = {text[2 * i], text[2 * i + 1], 0};
        wchar_t* end = nullptr;
        unsigned long v = wcstoul(pair, &end, 16);
        if (end != pair + 2)
            return false;
        uid->ab[i] = static_cast<BYTE>(v);
    }
    return true;
}

MAPIUID NewUid() {
    GUID g;
    CoCreateGuid(&g);
    MAPIUID uid;
    memcpy(uid.ab, &g, sizeof(uid.ab));
    return uid;
}

bool EncodeValue(const SPropValue& v, std::vector<BYTE>* data) {
    auto put = [&](const void* p, size_t n) {
        const BYTE* b = static_cast<const BYTE*>(p);
        data->assign(b, b + n);
    };
    switch (PROP_TYPE(v.ulPropTag)) {
    case PT_SHORT:
        put(&v.Value.i, 2);
        return true;
    case PT_BOOLEAN:
        put(&v.Value.b, 2);
        return true;
    case PT_LONG:
    case PT_ERROR:
        put(&v.Value.l, 4);
        return true;
    case PT_I8:
    case PT_SYSTIME:
    case PT_DOUBLE:
        put(&v.Value.li, 8);
        return true;
    case PT_STRING8:
        put(v.Value.lpszA ? v.Value.lpszA : "", v.Value.lpszA ? strlen(v.Value.lpszA) + 1 : 1);
        return true;
    case PT_UNICODE:
        put(v.Value.lpszW ? v.Value.lpszW : L"", (v.Value.lpszW ? wcslen(v.Value.lpszW) + 1 : 1) * 2);
        return true;
    case PT_BINARY:
        put(v.Value.bin.lpb, v.Value.bin.cb);
        return true;
    case PT_CLSID:
        put(v.Value.lpguid, sizeof(GUID));
        return true;
    default:
        return EncodeMultiValue(v, data);
    }
}

bool DecodeValue(ULONG tag, const std::vector<BYTE>& data, PropBag* bag) {
    SPropValue v{};
    v.ulPropTag = tag;
    std::wstring wide;
    std::string narrow;
    auto fixed = [&](void* p, size_t n) {
        if (data.size() < n)
            return false;
        memcpy(p, data.data(), n);
        return true;
    };
    switch (PROP_TYPE(tag)) {
    case PT_SHORT:
        if (!fixed(&v.Value.i, 2))
            return false;
        break;
    case PT_BOOLEAN:
        if (!fixed(&v.Value.b, 2))
            return false;
        break;
    case PT_LONG:
    case PT_ERROR:
        if (!fixed(&v.Value.l, 4))
            return false;
        break;
    case PT_I8:
    case PT_SYSTIME:
    case PT_DOUBLE:
        if (!fixed(&v.Value.li, 8))
            return false;
        break;
    case PT_STRING8:
        narrow.assign(data.begin(), data.end());
        narrow = narrow.c_str();
        v.Value.lpszA = &narrow[0];
        break;
    case PT_UNICODE:
        wide.assign(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
        wide = wide.c_str();
        v.Value.lpszW = &wide[0];
        break;
    case PT_BINARY:
        v.Value.bin.cb = static_cast<ULONG>(data.size());
        v.Value.bin.lpb = const_cast<BYTE*>(data.data());
        break;
    case PT_CLSID:
        if (data.size() < sizeof(GUID))
            return false;
        v.Value.lpguid = reinterpret_cast<GUID*>(const_cast<BYTE*>(data.data()));
        break;
    default:
        return DecodeMultiValue(tag, data, bag);
    }
    bag->Set(v);
    return true;
}

} // namespace standin
