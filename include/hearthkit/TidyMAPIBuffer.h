// TidyMAPIBuffer<T>: owns one MAPI buffer (a T* that MAPI allocated) and
// frees it once with MAPIFreeBuffer, the library's forwarding function
// (MAPILoader.h). Used over ENTRYID, SPropTagArray, SPropValue and SRowSet;
// a buffer that needs another free (a row set's rows) derives and overrides
// Free (TidyRowSet).
//
//   TidyMAPIBuffer<SPropValue> prop;
//   check = HrGetOneProp(obj, PR_DISPLAY_NAME_W, prop.put());
//   ... prop->Value.lpszW ...            // freed when prop goes
#pragma once

#include "MAPILoader.h"

#include <utility>

template <typename T>
class TidyMAPIBuffer {
public:
    TidyMAPIBuffer() noexcept = default;
    explicit TidyMAPIBuffer(T* buffer) noexcept : m_pBuffer(buffer) {}
    TidyMAPIBuffer(const TidyMAPIBuffer&) = delete;
    TidyMAPIBuffer& operator=(const TidyMAPIBuffer&) = delete;
    // Only the base frees here; a derived class frees its own way in its own
    // destructor first (a virtual call would not reach it from here).
    virtual ~TidyMAPIBuffer() { TidyMAPIBuffer::Free(); }

    T* get() const noexcept { return m_pBuffer; }
    T* operator->() const noexcept { return m_pBuffer; }
    explicit operator bool() const noexcept { return m_pBuffer != nullptr; }

    // Hands the buffer out; the caller frees it from now on.
    T* release() noexcept { return std::exchange(m_pBuffer, nullptr); }

    // Frees what is held, then takes buffer.
    void reset(T* buffer = nullptr) noexcept {
        if (buffer != m_pBuffer) {
            Free();
            m_pBuffer = buffer;
        }
    }

    // For MAPI out-parameters: frees what is held first.
    T** put() noexcept {
        Free();
        return &m_pBuffer;
    }

    // Frees the buffer held, if any; the holder is empty afterwards.
    virtual void Free() noexcept {
        if (T* buffer = release()) {
            MAPIFreeBuffer(buffer);
        }
    }

protected:
    T* m_pBuffer = nullptr;
};
