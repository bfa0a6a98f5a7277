// MSXML documents: version choice, XPath, buffers loaded in place.
#include "Hearthkit.h"
#include "LoggedRun.h"
#include "Scenario.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <msxml2.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const IID kIidXmlDomDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const wchar_t kDom30Key[] = L"Software\\Classes\\CLSID\\{F5078F32-C551-11D3-89B9-0000F81FE221}";
const wchar_t kDomKey[] = L"Software\\Classes\\CLSID\\{2933BF90-7B36-11D2-B20E-00C04F983E60}";

class ComScope {
public:
    ComScope() { ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~ComScope() { ::CoUninitialize(); }
};

std::wstring SelectionLanguage(IXMLDOMDocument* doc) {
    CComPtr<IXMLDOMDocument2> doc2;
    if (FAILED(doc->QueryInterface(kIidXmlDomDocument2, reinterpret_cast<void**>(&doc2)))) {
        return L"(no IXMLDOMDocument2)";
    }
    VARIANT value;
    ::VariantInit(&value);
    if (FAILED(doc2->getProperty(CComBSTR(L"SelectionLanguage"), &value)) || value.vt != VT_BSTR) {
        return L"(none)";
    }
    std::wstring text(value.bstrVal);
    ::VariantClear(&value);
    return text;
}

std::wstring RootText(IXMLDOMDocument* doc) {
    CComPtr<IXMLDOMElement> root;
    CComBSTR text;
    if (FAILED(doc->get_documentElement(&root)) || !root || FAILED(root->get_text(&text))) {
        return L"(no root)";
    }
    return text.m_str ? text.m_str : L"";
}

class XmlDocument : public testing::Test {
protected:
    ComScope com;
};

TEST_F(XmlDocument, Version3IsPreferredAndGetsXPathOnlyWhenAsked) {
    for (bool xpath : {false, true}) {
        CComPtr<IXMLDOMDocument> doc;
        bool v3 = false;
        EXPECT_EQ(S_OK, HearthkitUtil::GetXMLDOMDocumentObj(doc, xpath, &v3));
        EXPECT_TRUE(v3);
        ASSERT_TRUE(doc);
        EXPECT_EQ(xpath ? L"XPath" : L"XSLPattern", SelectionLanguage(doc));
    }
}

TEST_F(XmlDocument, BuffersLoadInPlaceWithTrailingZerosIgnoredAndEncodingDetected) {
    CComPtr<IXMLDOMDocument> doc;
    ASSERT_EQ(S_OK, HearthkitUtil::GetXMLDOMDocumentObj(doc, true, nullptr)); // the flag is optional

    const char terminated[] = "<reply><id>42</id></reply>\0\0\0";
    EXPECT_TRUE(HearthkitUtil::LoadBufferIntoXMLDOM(doc, terminated, sizeof terminated));
    EXPECT_EQ(L"42", RootText(doc));

    // UTF-16 with its byte-order mark, with and without its two-byte
    // terminator (its last character's high byte is a zero that stays), and
    // UTF-8 without a declaration.
    const char utf16[] = "\xFF\xFE<\0r\0>\0\xE9\0<\0/\0r\0>\0\0";
    EXPECT_TRUE(HearthkitUtil::LoadBufferIntoXMLDOM(doc, utf16, sizeof utf16 - 2));
    EXPECT_EQ(L"\u00E9", RootText(doc));
    EXPECT_TRUE(HearthkitUtil::LoadBufferIntoXMLDOM(doc, utf16, sizeof utf16));
    EXPECT_EQ(L"\u00E9", RootText(doc));
    const char utf8[] = "<r>\xC3\xA9</r>";
    EXPECT_TRUE(HearthkitUtil::LoadBufferIntoXMLDOM(doc, utf8, sizeof utf8 - 1));
    EXPECT_EQ(L"\u00E9", RootText(doc));

    // Only the given length counts, not what follows it.
    const char longer[] = "<a>1</a><b/>";
    EXPECT_TRUE(HearthkitUtil::LoadBufferIntoXMLDOM(doc, longer, 8));
    EXPECT_EQ(L"1", RootText(doc));
    // The caller's bytes are untouched.
    EXPECT_EQ(0, std::memcmp(longer, "<a>1</a><b/>", sizeof longer));
}

TEST_F(XmlDocument, BadInputIsRefused) {
    CComPtr<IXMLDOMDocument> doc;
    ASSERT_EQ(S_OK, HearthkitUtil::GetXMLDOMDocumentObj(doc, false, nullptr));
    const char zeros[16] = {};
    const std::pair<const char*, int> bad[] = {
        {zeros, 16}, {"<a><b></a>", 10}, {"\x01\x02garbage\xFF", 10}, {nullptr, 0}, {nullptr, 5}};
    for (const auto& b : bad) {
        EXPECT_FALSE(HearthkitUtil::LoadBufferIntoXMLDOM(doc, b.first, b.second)) << b.second;
    }
    EXPECT_FALSE(HearthkitUtil::LoadBufferIntoXMLDOM(nullptr, "<a/>", 4));
}

// Child: makes a document (XPath asked for) and a parse that fails; prints
// the result, the flag and the selection language.
HK_SCENARIO(XmlMakeDocument) {
    ComScope com;
    CComPtr<IXMLDOMDocument> doc;
    bool v3 = true;
    const HRESULT hr = HearthkitUtil::GetXMLDOMDocumentObj(doc, true, &v3);
    std::printf("hr=0x%08lx v3=%d lang=%s", static_cast<unsigned long>(hr), v3 ? 1 : 0,
                doc ? hk::test::Narrow(SelectionLanguage(doc)).c_str() : "(no document)");
    if (doc) {
        const char zeros[8] = {};
        std::printf(" zeros=%d garbage=%d",
                    HearthkitUtil::LoadBufferIntoXMLDOM(doc, zeros, sizeof zeros) ? 1 : 0,
                    HearthkitUtil::LoadBufferIntoXMLDOM(doc, "<a><b></a>", 10) ? 1 : 0);
    }
    std::fflush(stdout);
    return 0;
}

// Which edition is made depends on the classes registered; the log names
// the edition, and each failed parse logs the parser's reason.
TEST(XmlDocumentLog, EditionFollowsTheRegisteredClasses) {
    struct Case {
        std::vector<const wchar_t*> removed;
        const char* output;
        std::vector<const char*> logged, notLogged;
    } cases[] = {
        {{},
         "hr=0x00000000 v3=1 lang=XPath zeros=0 garbage=0",
         {"------ Loaded DOMDocument3", "+++ Successfully Loaded interface DOMDocument2",
          "Called set property on DOMDocument2 interface"},
         {"earlier edition"}},
        {{kDom30Key},
         "hr=0x00000000 v3=0 lang=XSLPattern",
         {"------ Loading earlier edition of DOM", "------ LOADED earlier edition of DOM",
          "SUCCESSFULLY loaded"},
         {"DOMDocument2"}},
        // The flag is left as it was (the child starts it at true).
        {{kDom30Key, kDomKey},
         "hr=0x80040154 v3=1 lang=(no document)",
         {"------ LOADED earlier edition of DOM"},
         {"SUCCESSFULLY loaded"}},
    };
    for (const auto& c : cases) {
        hk::test::LoggedRun run;
        {
            std::vector<std::unique_ptr<hk::test::RegistryKeyGuard>> guards;
            for (const wchar_t* key : c.removed) {
                guards.emplace_back(new hk::test::RegistryKeyGuard(HKEY_LOCAL_MACHINE, key));
                EXPECT_EQ(ERROR_SUCCESS, ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key));
            }
            run = hk::test::RunLoggedScenario("XmlMakeDocument");
        }
        ASSERT_EQ(0u, run.result.exitCode) << run.result.output;
        EXPECT_NE(std::string::npos, run.result.output.find(c.output)) << run.result.output;
        size_t from = 0; // in this order
        for (const char* line : c.logged) {
            from = run.log.find(line, from);
            ASSERT_NE(std::string::npos, from) << line << "\n" << run.log;
        }
        for (const char* line : c.notLogged) {
            EXPECT_EQ(std::string::npos, run.log.find(line)) << line << "\n" << run.log;
        }
        if (c.removed.empty()) {
            size_t first = run.log.find("Failed to load DOM reason '");
            ASSERT_NE(std::string::npos, first) << run.log;
            EXPECT_NE('\'', run.log[first + 27]) << run.log;
            EXPECT_NE(std::string::npos, run.log.find("Failed to load DOM reason '", first + 1)) << run.log;
        }
    }
}

} // namespace
