// The parts of an MDC path that name its client key, tested directly.
#include "provider/ShmspText.h"

#include <gtest/gtest.h>

TEST(MdcPath, NamesParentDirectoryAndBaseNameOrNothing) {
    const struct {
        const wchar_t* path;
        const wchar_t* parent; // empty: refused
        const wchar_t* base;
    } cases[] = {
        {L"C:\\Cache\\STORE\\a1.db", L"STORE", L"a1"},
        {L"\\\\server\\share\\S.1\\mdc.v2.db", L"S.1", L"mdc.v2"},
        {L"C:\\Cache\\STORE\\a1", L"", L""},   // no extension
        {L"C:\\Cache\\STORE.d\\a1", L"", L""}, // the only dot is a directory's
        {L"C:\\a1.db", L"", L""},              // one directory level
        {L"C:\\Cache\\\\a1.db", L"", L""},     // no parent name
    };
    for (const auto& c : cases) {
        std::wstring parent = L"x", base = L"x";
        EXPECT_EQ(*c.parent != L'\0', hk::provider::ParseMdcPath(c.path, parent, base)) << c.path;
        EXPECT_EQ(c.parent, parent) << c.path;
        EXPECT_EQ(c.base, base) << c.path;
    }
}
