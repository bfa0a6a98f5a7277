// IMAPITable over a snapshot of rows: columns, restriction, sort order and a
// cursor. The rows are copied when the table is made; later changes of the
// source are seen by the next table.
#include "Standin.h"

#include <algorithm>
#include <string>

namespace standin {
namespace {

class Table : public IMAPITable, public ObjectBase {
public:
    Table(std::vector<PropBag> rows, const std::vector<ULONG>& columns)
        : m_rows(std::move(rows)), m_columns(columns) {
        for (size_t i = 0; i < m_rows.size(); ++i)
            m_view.push_back(i);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        return Answer<IMAPITable>(this, riid, out, {&IID_IMAPITable});
    }
    STANDIN_REFCOUNT

    STDMETHODIMP GetLastError(HRESULT hr, ULONG flags, LPMAPIERROR* out) override {
        return GetLastMapiError(hr, flags, out);
    }
    STDMETHODIMP Advise(ULONG, LPMAPIADVISESINK, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP Unadvise(ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP GetStatus(ULONG* status, ULONG* type) override {
        if (!status || !type)
            return MAPI_E_INVALID_PARAMETER;
        *status = TBLSTAT_COMPLETE;
        *type = TBLTYPE_SNAPSHOT;
        return S_OK;
    }
    STDMETHODIMP SetColumns(LPSPropTagArray tags, ULONG) override {
        if (HRESULT hr = Hook("IMAPITable::SetColumns"))
            return hr;
        if (!tags)
            return MAPI_E_INVALID_PARAMETER;
        m_columns.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
        return S_OK;
    }
    STDMETHODIMP QueryColumns(ULONG, LPSPropTagArray* out) override {
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        return TagArray(out);
    }
    STDMETHODIMP GetRowCount(ULONG, ULONG* count) override {
        if (!count)
            return MAPI_E_INVALID_PARAMETER;
        *count = static_cast<ULONG>(m_view.size());
        return S_OK;
    }
    STDMETHODIMP SeekRow(BOOKMARK origin, LONG count, LONG* sought) override {
        LONG base = 0;
        if (origin == BOOKMARK_BEGINNING)
            base = 0;
        else if (origin == BOOKMARK_CURRENT)
            base = static_cast<LONG>(m_cursor);
        else if (origin == BOOKMARK_END)
            base = static_cast<LONG>(m_view.size());
        else
            return MAPI_E_INVALID_BOOKMARK;
        LONG target = std::max<LONG>(0, std::min<LONG>(static_cast<LONG>(m_view.size()), base + count));
        if (sought)
            *sought = target - base;
        m_cursor = static_cast<size_t>(target);
        return S_OK;
    }
    STDMETHODIMP SeekRowApprox(ULONG num, ULONG den) override {
        if (!den)
            return MAPI_E_INVALID_PARAMETER;
        m_cursor = static_cast<size_t>(static_cast<ULONGLONG>(m_view.size()) * num / den);
        return S_OK;
    }
    STDMETHODIMP QueryPosition(ULONG* row, ULONG* num, ULONG* den) override {
        if (!row || !num || !den)
            return MAPI_E_INVALID_PARAMETER;
        *row = static_cast<ULONG>(m_cursor);
        *num = static_cast<ULONG>(m_cursor);
        *den = static_cast<ULONG>(m_view.size());
        return S_OK;
    }
    STDMETHODIMP FindRow(LPSRestriction r, BOOKMARK origin, ULONG) override {
        if (!r)
            return MAPI_E_INVALID_PARAMETER;
        if (origin == BOOKMARK_BEGINNING)
            m_cursor = 0;
        for (size_t i = m_cursor; i < m_view.size(); ++i) {
            if (Matches(m_rows[m_view[i]], r)) {
                m_cursor = i;
                return S_OK;
            }
        }
        return MAPI_E_NOT_FOUND;
    }
    STDMETHODIMP Restrict(LPSRestriction r, ULONG) override {
        if (HRESULT hr = Hook("IMAPITable::Restrict"))
            return hr;
        m_view.clear();
        for (size_t i = 0; i < m_rows.size(); ++i)
            if (Matches(m_rows[i], r))
                m_view.push_back(i);
        ApplySort();
        m_cursor = 0;
        return S_OK;
    }
    STDMETHODIMP CreateBookmark(BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP FreeBookmark(BOOKMARK) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SortTable(LPSSortOrderSet sort, ULONG) override {
        if (HRESULT hr = Hook("IMAPITable::SortTable"))
            return hr;
        if (!sort)
            return MAPI_E_INVALID_PARAMETER;
        m_sort.assign(sort->aSort, sort->aSort + sort->cSorts);
        ApplySort();
        m_cursor = 0;
        return S_OK;
    }
    STDMETHODIMP QuerySortOrder(LPSSortOrderSet*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP QueryRows(LONG count, ULONG flags, LPSRowSet* out) override {
        if (HRESULT hr = Hook("IMAPITable::QueryRows"))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        if (count < 0)
            return MAPI_E_NO_SUPPORT; // reading backwards is not offered
        size_t n = std::min<size_t>(static_cast<size_t>(count), m_view.size() - m_cursor);
        SRowSet* set = nullptr;
        HRESULT hr = AllocateBuffer(static_cast<ULONG>(sizeof(SRowSet) + sizeof(SRow) * (n ? n : 1)),
                                    reinterpret_cast<void**>(&set));
        if (FAILED(hr))
            return hr;
        set->cRows = 0;
        std::vector<BYTE> raw;
        const SPropTagArray* columns = Columns(raw);
        for (size_t i = 0; i < n; ++i) {
            SRow& row = set->aRow[i];
            row.ulAdrEntryPad = 0;
            hr = m_rows[m_view[m_cursor + i]].Row(columns, &row.cValues, &row.lpProps);
            if (FAILED(hr)) {
                FreeRows(set);
                return hr;
            }
            set->cRows++;
        }
        if (TakeRowsWithoutValues()) {
            for (ULONG i = 0; i < set->cRows; ++i) {
                FreeBuffer(set->aRow[i].lpProps);
                set->aRow[i].lpProps = nullptr;
                set->aRow[i].cValues = 0;
            }
        }
        if (!(flags & TBL_NOADVANCE))
            m_cursor += n;
        *out = set;
        return S_OK;
    }
    STDMETHODIMP Abort() override { return S_OK; }
    STDMETHODIMP ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP CollapseRow(ULONG, LPBYTE, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP WaitForCompletion(ULONG, ULONG, ULONG* status) override {
        if (status)
            *status = TBLSTAT_COMPLETE;
        return S_OK;
    }
    STDMETHODIMP GetCollapseState(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) override {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }

private:
    static void FreeRows(SRowSet* set) {
        for (ULONG i = 0; i < set->cRows; ++i)
            FreeBuffer(set->aRow[i].lpProps);
        FreeBuffer(set);
    }

    // The column set as a tag array (null: every property of the row).
    const SPropTagArray* Columns(std::vector<BYTE>& raw) const {
        if (m_columns.empty())
            return nullptr;
        raw.resize(sizeof(ULONG) * (m_columns.size() + 1));
        SPropTagArray* list = reinterpret_cast<SPropTagArray*>(raw.data());
        list->cValues = static_cast<ULONG>(m_columns.size());
        std::copy(m_columns.begin(), m_columns.end(), list->aulPropTag);
        return list;
    }

    HRESULT TagArray(LPSPropTagArray* out) const {
        SPropTagArray* list = nullptr;
        HRESULT hr = AllocateBuffer(static_cast<ULONG>(sizeof(ULONG) * (m_columns.size() + 1)),
                                    reinterpret_cast<void**>(&list));
        if (FAILED(hr))
            return hr;
        list->cValues = static_cast<ULONG>(m_columns.size());
        std::copy(m_columns.begin(), m_columns.end(), list->aulPropTag);
        *out = list;
        return S_OK;
    }

    static bool Matches(const PropBag& row, const SRestriction* r) {
        if (!r)
            return true;
        ULONG count = 0;
        SPropValue* values = nullptr;
        if (FAILED(row.Row(nullptr, &count, &values)))
            return false;
        bool match = EvaluateRestriction(r, values, count);
        FreeBuffer(values);
        return match;
    }

    void ApplySort() {
        if (m_sort.empty())
            return;
        std::stable_sort(m_view.begin(), m_view.end(), [this](size_t a, size_t b) {
            for (const SSortOrder& s : m_sort) {
                const SPropValue* va = m_rows[a].Find(s.ulPropTag);
                const SPropValue* vb = m_rows[b].Find(s.ulPropTag);
                int c = 0;
                if (va && vb)
                    c = ComparePropValues(va, vb);
                else if (va || vb)
                    c = va ? 1 : -1; // a missing value sorts first
                if (s.ulOrder == TABLE_SORT_DESCEND)
                    c = -c;
                if (c != 0)
                    return c < 0;
            }
            return false;
        });
    }

    std::vector<PropBag> m_rows;
    std::vector<size_t> m_view;
    std::vector<ULONG> m_columns;
    std::vector<SSortOrder> m_sort;
    size_t m_cursor = 0;
};

} // namespace

IMAPITable* CreateTable(std::vector<PropBag> rows, const std::vector<ULONG>& defaultColumns) {
    return new Table(std::move(rows), defaultColumns);
}

} // namespace standin
