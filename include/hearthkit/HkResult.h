// The result holder and the catch-at-the-boundary helper.
//
//   HRESULT SomeClass::Operation() {
//       HRESULT hr = S_OK;
//       CDesktopLog log("SomeClass::Operation", &hr);
//       try {
//           CheckedHr check;
//           check = StepThatReturnsHr();   // raises _com_error on failure
//           ...
//       } catch (...) {
//           hr = HkCaughtToHr(log, "SomeClass::Operation");
//       }
//       return hr;
//   }
#pragma once

#include "HearthkitExport.h"
#include "CDesktopLog.h"
#include "HkHResultFromWin32.h"

#include <windows.h>
#include <comdef.h>
#include <cstdio>
#include <exception>
#include <new>

// An HRESULT whose assignment raises _com_error for a failure code. Success
// codes (S_FALSE included) are kept and can be read back.
class CheckedHr {
public:
    CheckedHr() noexcept = default;
    CheckedHr& operator=(HRESULT hr) {
        m_hr = hr;
        if (FAILED(hr)) {
            _com_issue_error(hr);
        }
        return *this;
    }
    operator HRESULT() const noexcept { return m_hr; }

private:
    HRESULT m_hr = S_OK;
};

// A null where the operation needs a pointer: one line at LOG_ERROR naming
// the argument ("Null argument: <name>"), and hr for the operation to answer.
inline HRESULT HkNullArgument(CDesktopLog& log, const char* argument, HRESULT hr = E_INVALIDARG) noexcept {
    log.LogText(LOG_ERROR, "Null argument: %s\n", argument);
    return hr;
}

// Call only inside a catch block. The HRESULT the library's conventions name
// for what is being handled, logging nothing (the quiet twin of HkCaughtToHr,
// for callers that write a line of their own):
//   _com_error       -> its HRESULT
//   std::bad_alloc   -> E_OUTOFMEMORY
//   anything else    -> other
// Inline on purpose: the rethrow must run in the module that caught, since
// each module carries its own copy of the C++ runtime's exception state.
inline HRESULT HkResultFromCaught(HRESULT other = E_UNEXPECTED) noexcept {
    try {
        throw;
    } catch (const _com_error& e) {
        return e.Error();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return other;
    }
}

// Call only inside a catch block. HkResultFromCaught's HRESULT, with one line
// written through log:
//   _com_error       -> "<scope> com_error: 0x<hr>" at LOG_ERROR
//   std::exception   -> the exception logged (std::bad_alloc included)
//   anything else    -> no line
// scope may be null: then a _com_error is logged with LogException instead.
inline HRESULT HkCaughtToHr(CDesktopLog& log, const char* scope, HRESULT other = E_UNEXPECTED) noexcept {
    try {
        throw;
    } catch (const _com_error& e) {
        if (scope == nullptr) {
            log.LogException(e);
        } else {
            // Built by hand, not as a std::string: the line must not throw.
            char line[300];
            std::snprintf(line, sizeof(line), "%s com_error", scope);
            log.LogHR(LOG_ERROR, line, e.Error());
        }
    } catch (const std::exception& e) {
        log.LogException(e);
    } catch (...) {
    }
    return HkResultFromCaught(other);
}
