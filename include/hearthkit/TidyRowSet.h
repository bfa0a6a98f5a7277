// TidyRowSet: owns one row set from a MAPI table and frees its rows and the
// set once with FreeProws, the library's forwarding function (MAPILoader.h).
//
//   TidyRowSet rows;
//   check = HrQueryAllRows(table, &columns.hdr, nullptr, nullptr, 0, rows.put());
//   for (ULONG i = 0; i < rows->cRows; ++i) { ... }
#pragma once

#include "TidyMAPIBuffer.h"

class TidyRowSet : public TidyMAPIBuffer<SRowSet> {
public:
    TidyRowSet() noexcept = default;
    explicit TidyRowSet(SRowSet* rows) noexcept : TidyMAPIBuffer<SRowSet>(rows) {}
    ~TidyRowSet() override { Free(); }

    void Free() noexcept override {
        if (SRowSet* rows = release()) {
            FreeProws(rows);
        }
    }
};
