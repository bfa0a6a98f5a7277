// The stand-in's own tests run on it as every MAPI test does
// (tests/support/MapiStandin.h): the MAPI names they call are the library's
// forwarding functions; only the control surface is the stand-in's own. What
// they add: bare holders, so that every reference and buffer is released by
// the test's own hand where it counts them.
#pragma once

#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>
#include <mapitags.h>
#include <mapicode.h>

#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MapiStandin.h"

namespace mapitest {

// Owns one interface reference.
template <class T>
struct Ptr {
    T* p = nullptr;
    Ptr() = default;
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    ~Ptr() {
        if (p)
            p->Release();
    }
    T** put() {
        if (p)
            p->Release();
        p = nullptr;
        return &p;
    }
    T* operator->() const { return p; }
};

// Owns a row set (FreeProws) or a MAPI buffer (MAPIFreeBuffer).
template <class T, void (*Free)(T*)>
struct Owned {
    T* p = nullptr;
    Owned() = default;
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { Free(p); }
    T** put() {
        Free(p);
        p = nullptr;
        return &p;
    }
    T* operator->() const { return p; }
};
inline void FreeRows(SRowSet* p) {
    FreeProws(p);
}
template <class T>
void FreeBuf(T* p) {
    MAPIFreeBuffer(p);
}
using Rows = Owned<SRowSet, FreeRows>;
template <class T>
using Buf = Owned<T, FreeBuf<T>>;

using hk::test::Match;
constexpr const wchar_t* kProfiles = hk::test::kMapiProfilesKey;
extern MAPIUID kGlobalSection;

// The library's HrQueryAllRows over the columns listed.
HRESULT QueryAll(IMAPITable* table, std::initializer_list<ULONG> columns, SRestriction* r, Rows* rows,
                 SSortOrderSet* sort = nullptr, LONG maxRows = 0);

using LeakCheckedTest = hk::test::MapiTest;

} // namespace mapitest
