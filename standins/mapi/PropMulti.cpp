// Stored form of multi-valued properties (profile sections and store
// files): the value count as a ULONG, then each value: a PT_MV_LONG value
// as its four bytes; a binary or string value as its byte count (ULONG)
// and its bytes, strings with their terminator.
#include "Standin.h"

namespace standin {
namespace {

void PutBytes(std::vector<BYTE>* data, const void* p, size_t n) {
    const BYTE* b = static_cast<const BYTE*>(p);
    data->insert(data->end(), b, b + n);
}

void PutCounted(std::vector<BYTE>* data, const void* p, size_t n) {
    ULONG size = static_cast<ULONG>(n);
    PutBytes(data, &size, sizeof(size));
    PutBytes(data, p, n);
}

// Reads the stored values in order; false when the data runs short.
class Reader {
public:
    explicit Reader(const std::vector<BYTE>& data) : m_data(data) {}
    bool Fixed(void* p, size_t n) {
        if (m_data.size() - m_at < n)
            return false;
        memcpy(p, m_data.data() + m_at, n);
        m_at += n;
        return true;
    }
    bool Counted(std::vector<BYTE>* out) {
        ULONG n = 0;
        if (!Fixed(&n, sizeof(n)) || m_data.size() - m_at < n)
            return false;
        out->assign(m_data.begin() + m_at, m_data.begin() + m_at + n);
        m_at += n;
        return true;
    }

private:
    const std::vector<BYTE>& m_data;
    size_t m_at = 0;
};

} // namespace

bool EncodeMultiValue(const SPropValue& v, std::vector<BYTE>* data) {
    data->clear();
    const ULONG type = PROP_TYPE(v.ulPropTag);
    // Every multi-valued layout starts with its count at the same place.
    const ULONG count = v.Value.MVl.cValues;
    if (count && !v.Value.MVl.lpl)
        return false;
    PutBytes(data, &count, sizeof(count));
    for (ULONG i = 0; i < count; ++i) {
        switch (type) {
        case PT_MV_LONG:
            PutBytes(data, &v.Value.MVl.lpl[i], sizeof(LONG));
            break;
        case PT_MV_BINARY:
            PutCounted(data, v.Value.MVbin.lpbin[i].lpb, v.Value.MVbin.lpbin[i].cb);
            break;
        case PT_MV_UNICODE: {
            const wchar_t* s = v.Value.MVszW.lppszW[i] ? v.Value.MVszW.lppszW[i] : L"";
            PutCounted(data, s, (wcslen(s) + 1) * sizeof(wchar_t));
            break;
        }
        case PT_MV_STRING8: {
            const char* s = v.Value.MVszA.lppszA[i] ? v.Value.MVszA.lppszA[i] : "";
            PutCounted(data, s, strlen(s) + 1);
            break;
        }
        default:
            return false;
        }
    }
    return type == PT_MV_LONG || type == PT_MV_BINARY || type == PT_MV_UNICODE || type == PT_MV_STRING8;
}

bool DecodeMultiValue(ULONG tag, const std::vector<BYTE>& data, PropBag* bag) {
    Reader in(data);
    ULONG count = 0;
    if (!in.Fixed(&count, sizeof(count)) || count > data.size())
        return false;
    std::vector<LONG> longs(count);
    std::vector<std::vector<BYTE>> parts(count);
    for (ULONG i = 0; i < count; ++i) {
        bool ok = PROP_TYPE(tag) == PT_MV_LONG ? in.Fixed(&longs[i], sizeof(LONG)) : in.Counted(&parts[i]);
        if (!ok)
            return false;
        parts[i].resize(parts[i].size() + sizeof(wchar_t)); // a terminator for a damaged string
    }
    SPropValue v{};
    v.ulPropTag = tag;
    std::vector<SBinary> bins(count);
    std::vector<void*> texts(count);
    for (ULONG i = 0; i < count; ++i) {
        bins[i].cb = static_cast<ULONG>(parts[i].size() - sizeof(wchar_t));
        bins[i].lpb = parts[i].data();
        texts[i] = parts[i].data();
    }
    switch (PROP_TYPE(tag)) {
    case PT_MV_LONG:
        v.Value.MVl = {count, longs.data()};
        break;
    case PT_MV_BINARY:
        v.Value.MVbin = {count, bins.data()};
        break;
    case PT_MV_UNICODE:
        v.Value.MVszW = {count, reinterpret_cast<wchar_t**>(texts.data())};
        break;
    case PT_MV_STRING8:
        v.Value.MVszA = {count, reinterpret_cast<char**>(texts.data())};
        break;
    default:
        return false;
    }
    bag->Set(v);
    return true;
}

} // namespace standin
