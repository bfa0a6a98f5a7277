// Attachment data as a stream.
#include "StoreObjects.h"

namespace standin {
namespace {

// An attachment's binary data as a stream; Commit (or the last Release
// after a write) puts it into the attachment.
class AttachStream : public IStream, public ObjectBase {
public:
    AttachStream(IAttach* owner, std::vector<BYTE> data, bool writable)
        : m_owner(owner), m_data(std::move(data)), m_writable(writable) {
        m_owner->AddRef();
    }
    ~AttachStream() override {
        if (m_dirty)
            Commit(0);
        m_owner->Release();
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        return Answer<IStream>(this, riid, out, {&IID_IStream, &IID_ISequentialStream});
    }
    STANDIN_REFCOUNT

    STDMETHODIMP Read(void* buffer, ULONG size, ULONG* read) override {
        if (!buffer)
            return STG_E_INVALIDPOINTER;
        ULONG n = static_cast<ULONG>(std::min<size_t>(size, m_data.size() - std::min(m_pos, m_data.size())));
        if (n)
            memcpy(buffer, m_data.data() + m_pos, n);
        m_pos += n;
        if (read)
            *read = n;
        return S_OK;
    }
    STDMETHODIMP Write(const void* buffer, ULONG size, ULONG* written) override {
        if (!m_writable)
            return STG_E_ACCESSDENIED;
        if (!buffer)
            return STG_E_INVALIDPOINTER;
        if (m_pos + size > m_data.size())
            m_data.resize(m_pos + size);
        memcpy(m_data.data() + m_pos, buffer, size);
        m_pos += size;
        m_dirty = true;
        if (written)
            *written = size;
        return S_OK;
    }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override {
        LONGLONG base = origin == STREAM_SEEK_SET   ? 0
                        : origin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(m_pos)
                                                    : static_cast<LONGLONG>(m_data.size());
        if (origin > STREAM_SEEK_END || base + move.QuadPart < 0)
            return STG_E_INVALIDFUNCTION;
        m_pos = static_cast<size_t>(base + move.QuadPart);
        if (newPos)
            newPos->QuadPart = m_pos;
        return S_OK;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER size) override {
        if (!m_writable)
            return STG_E_ACCESSDENIED;
        m_data.resize(static_cast<size_t>(size.QuadPart));
        m_dirty = true;
        return S_OK;
    }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Commit(DWORD) override {
        SPropValue v{};
        v.ulPropTag = PR_ATTACH_DATA_BIN;
        v.Value.bin.cb = static_cast<ULONG>(m_data.size());
        v.Value.bin.lpb = m_data.data();
        m_dirty = false;
        return m_owner->SetProps(1, &v, nullptr);
    }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
        if (!stat)
            return STG_E_INVALIDPOINTER;
        ZeroMemory(stat, sizeof(*stat));
        stat->type = STGTY_STREAM;
        ULONGLONG claimed = ClaimedStreamSize();
        stat->cbSize.QuadPart = claimed != 0 ? claimed : m_data.size();
        return S_OK;
    }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

private:
    IAttach* m_owner;
    std::vector<BYTE> m_data;
    size_t m_pos = 0;
    bool m_writable;
    bool m_dirty = false;
};

} // namespace

IStream* NewAttachStream(IAttach* owner, std::vector<BYTE> data, bool writable) {
    return new AttachStream(owner, std::move(data), writable);
}

} // namespace standin
