// Shared machinery of the MAPI stand-in: MAPI memory, property values,
// the call hooks of the control surface and the object base.
#pragma once

#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>
#include <mapitags.h>
#include <mapicode.h>
#include <mapidefs.h>

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "MapiStandinControl.h"

// Tags that mingw's headers lack, from their published values.
#ifndef PR_PROFILE_HOME_SERVER
#define PR_PROFILE_HOME_SERVER PROP_TAG(PT_STRING8, 0x6602)
#endif
#ifndef PR_USER_ENTRYID
#define PR_USER_ENTRYID PROP_TAG(PT_BINARY, 0x6619)
#endif
#ifndef STORE_UNICODE_OK
#define STORE_UNICODE_OK 0x00040000
#endif
#define PR_PST_PATH_W PROP_TAG(PT_UNICODE, 0x6700)
#define PR_PST_CONFIG_FLAGS PROP_TAG(PT_LONG, 0x6770)
// Mailbox kind of an Exchange store; 32 marks an archive mailbox.
#define PR_MAILBOX_KIND PROP_TAG(PT_LONG, 0x6806)
// The stand-in's own provider-section property: which kind of store a
// provider serves (StoreKind).
#define PR_STANDIN_STORE_KIND PROP_TAG(PT_LONG, 0x67F0)
// The file an open store of the stand-in keeps its content in.
#define PR_STANDIN_STORE_PATH PROP_TAG(PT_UNICODE, 0x67F1)

namespace standin {

// MAPI memory (Alloc.cpp).
SCODE AllocateBuffer(ULONG size, void** out);
SCODE AllocateMore(ULONG size, void* parent, void** out);
ULONG FreeBuffer(void* buffer);
LONG LiveBuffers();
LONG BadFrees();

// Counts the call and answers the fault set for it, or S_OK; the second
// form also keeps the call's flags.
HRESULT Hook(const char* callName);
HRESULT Hook(const char* callName, ULONG flags);
// The extended error of the last failed call on this thread.
void SetLastMapiError(HRESULT hr, const wchar_t* text, ULONG context = 0);
HRESULT GetLastMapiError(HRESULT hr, ULONG flags, LPMAPIERROR* out);

// The faults of MapiStandinRowsWithoutValues and MapiStandinClaimStreamSize:
// whether this QueryRows call answers rows without values, and the size an
// attachment stream claims (0: its own).
bool TakeRowsWithoutValues();
ULONGLONG ClaimedStreamSize();

// Live objects.
LONG LiveObjects();

// The handle of this module.
HMODULE Module();

// Common base of every object handed out: counts references and itself.
class ObjectBase {
public:
    ObjectBase();
    virtual ~ObjectBase();
    ObjectBase(const ObjectBase&) = delete;
    ObjectBase& operator=(const ObjectBase&) = delete;

protected:
    ULONG DoAddRef();
    ULONG DoRelease();

private:
    LONG m_refs = 1;
};

// IUnknown::QueryInterface for an object offering IUnknown and the listed
// interfaces through its interface I.
template <class I>
HRESULT Answer(I* self, REFIID riid, void** out, std::initializer_list<const IID*> iids) {
    if (!out)
        return E_INVALIDARG;
    bool known = riid == IID_IUnknown;
    for (const IID* iid : iids)
        known = known || riid == *iid;
    if (!known) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    *out = self;
    self->AddRef();
    return S_OK;
}

#define STANDIN_REFCOUNT                                                                                     \
    ULONG STDMETHODCALLTYPE AddRef() override {                                                              \
        return DoAddRef();                                                                                   \
    }                                                                                                        \
    ULONG STDMETHODCALLTYPE Release() override {                                                             \
        return DoRelease();                                                                                  \
    }

// The IMAPIProp methods no object of the stand-in offers.
#define STANDIN_PROP_NO_COPY                                                                                 \
    STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,        \
                        LPSPropProblemArray*) override {                                                     \
        return MAPI_E_NO_SUPPORT;                                                                            \
    }                                                                                                        \
    STDMETHODIMP CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,                    \
                           LPSPropProblemArray*) override {                                                  \
        return MAPI_E_NO_SUPPORT;                                                                            \
    }                                                                                                        \
    STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override {         \
        return MAPI_E_NO_SUPPORT;                                                                            \
    }

// Owns one COM or MAPI interface reference.
template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* p) : m_p(p) {} // adopts
    Ref(const Ref& o) : m_p(o.m_p) {
        if (m_p)
            m_p->AddRef();
    }
    Ref& operator=(const Ref& o) {
        Ref t(o);
        std::swap(m_p, t.m_p);
        return *this;
    }
    ~Ref() {
        if (m_p)
            m_p->Release();
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    T* detach() {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

// Owns a MAPI buffer.
template <class T>
class Buffer {
public:
    Buffer() = default;
    explicit Buffer(T* p) : m_p(p) {}
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { FreeBuffer(m_p); }
    T* get() const { return m_p; }
    T** put() {
        FreeBuffer(m_p);
        m_p = nullptr;
        return &m_p;
    }
    T* detach() {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }
    T* operator->() const { return m_p; }

private:
    T* m_p = nullptr;
};

// Property values (Props.cpp).
// Copies the data of src into dst, allocating what it points to as
// MAPIAllocateMore buffers of parent.
SCODE CopyPropValue(SPropValue* dst, const SPropValue* src, void* parent);
// A value of one tag with every string read as the requested string type
// (PT_STRING8 and PT_UNICODE convert into each other).
SCODE ConvertPropValue(SPropValue* dst, const SPropValue* src, ULONG wantedTag, void* parent);
// Size in bytes of a value's data beyond the SPropValue itself.
ULONG PropDataSize(const SPropValue* value);
// Compares two values of compatible types: <0, 0, >0; strings as text,
// binaries by size then bytes.
int ComparePropValues(const SPropValue* a, const SPropValue* b);
bool EvaluateRestriction(const SRestriction* restriction, const SPropValue* props, ULONG count);
std::wstring PropString(const SPropValue* value); // a string value as wide text, or empty
std::wstring Widen(const char* text);
std::string Narrow(const wchar_t* text);
std::wstring Lower(std::wstring text);
// CompareEntryIDs of the stand-in's objects: the same bytes.
HRESULT CompareEntryIds(ULONG cb1, const ENTRYID* e1, ULONG cb2, const ENTRYID* e2, ULONG* result);
// A string argument that MAPI_UNICODE says is wide, narrow otherwise.
std::wstring ArgText(const void* text, ULONG flags);

// An owned property value (its own MAPI buffer).
class Prop {
public:
    Prop() = default;
    explicit Prop(const SPropValue& value);
    Prop(const Prop& o);
    Prop& operator=(const Prop& o);
    ~Prop();
    const SPropValue* get() const { return m_p; }
    ULONG tag() const { return m_p ? m_p->ulPropTag : PR_NULL; }

private:
    SPropValue* m_p = nullptr;
};

Prop MakeBinary(ULONG tag, const void* data, ULONG size);
Prop MakeUnicode(ULONG tag, const wchar_t* text);
Prop MakeLong(ULONG tag, LONG value);
Prop MakeBool(ULONG tag, bool value);
Prop MakeTime(ULONG tag, const FILETIME& value);

// Properties by id; one value per id.
class PropBag {
public:
    void Set(const SPropValue& value);
    void Set(const Prop& value) { Set(*value.get()); }
    const SPropValue* Find(ULONG tag) const; // by id
    void Delete(ULONG tag);
    const std::map<ULONG, Prop>& All() const { return m_props; }
    // IMAPIProp::GetProps over the bag.
    HRESULT GetProps(const SPropTagArray* tags, ULONG flags, ULONG* count, SPropValue** out) const;
    HRESULT GetPropList(ULONG flags, SPropTagArray** out) const;
    // Values as a flat array in one MAPI buffer (a table row).
    HRESULT Row(const SPropTagArray* columns, ULONG* count, SPropValue** out) const;

private:
    std::map<ULONG, Prop> m_props;
};

// Stored form of one value (profile sections, store files): fixed-size
// values as their bytes, strings with their terminator, binaries as they
// are, multi-valued ones as PropMulti.cpp lays them out. False for the
// types not kept.
bool EncodeValue(const SPropValue& value, std::vector<BYTE>* data);
bool DecodeValue(ULONG tag, const std::vector<BYTE>& data, PropBag* bag);
bool EncodeMultiValue(const SPropValue& value, std::vector<BYTE>* data);
bool DecodeMultiValue(ULONG tag, const std::vector<BYTE>& data, PropBag* bag);

// A MAPI table over rows copied when it is made (Table.cpp). The caller
// owns the returned reference.
IMAPITable* CreateTable(std::vector<PropBag> rows, const std::vector<ULONG>& defaultColumns);

// IMAPIProp::CopyTo (include null) and CopyProps (PropCopy.cpp).
HRESULT CopyProperties(IMAPIProp* source, const SPropTagArray* include, const SPropTagArray* exclude,
                       LPCIID iid, void* dest, ULONG flags, LPSPropProblemArray* problems);

// MAPIUID helpers.
std::wstring UidHex(const MAPIUID& uid); // lower-case, 32 digits
bool UidFromHex(const std::wstring& text, MAPIUID* uid);
MAPIUID NewUid();

} // namespace standin
