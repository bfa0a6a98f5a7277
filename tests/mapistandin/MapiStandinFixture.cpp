#include "MapiStandinFixture.h"

#include <vector>

namespace mapitest {

MAPIUID kGlobalSection = {
    {0x13, 0xDB, 0xB0, 0xC8, 0xAA, 0x05, 0x10, 0x1A, 0x9B, 0xB0, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A}};

HRESULT QueryAll(IMAPITable* table, std::initializer_list<ULONG> columns, SRestriction* r, Rows* rows,
                 SSortOrderSet* sort, LONG maxRows) {
    std::vector<ULONG> tags{static_cast<ULONG>(columns.size())};
    tags.insert(tags.end(), columns.begin(), columns.end());
    return HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(tags.data()), r, sort, maxRows,
                          rows->put());
}

} // namespace mapitest
