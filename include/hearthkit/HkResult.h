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

#include <windows.h>
#include <comdef.h>
#include <exception>
#include <new>
#include <string>

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

// Raises _com_error with the HRESULT of a Win32 error (0x80070000 | code;
// a code that is 0 or negative as it is).
HEARTHKIT_API HRESULT HkHResultFromWin32(long code) noexcept;

// A null where the operation needs a pointer: one line at LOG_ERROR naming
// the argument ("Null argument: <name>"), and hr for the operation to answer.
inline HRESULT HkNullArgument(CDesktopLog& log, const char* argument, HRESULT hr = E_INVALIDARG) noexcept {
    log.LogText(LOG_ERROR, "Null argument: %s\n", argument);
    return hr;
}

// Call only inside a catch block. Maps what is being handled to the HRESULT
// the library's conventions name and writes one line through log:
//   _com_error       -> its HRESULT; "<scope> com_error: 0x<hr>" at LOG_ERROR
//   std::bad_alloc   -> E_OUTOFMEMORY, the exception logged
//   std::exception   -> other, the exception logged
//   anything else    -> other
// scope may be null: then a _com_error is logged with LogException instead.
// Inline on purpose: the rethrow must run in the module that caught, since
// each module carries its own copy of the C++ runtime's exception state.
inline HRESULT HkCaughtToHr(CDesktopLog& log, const char* scope, HRESULT other = E_UNEXPECTED) noexcept {
    try {
        throw;
    } catch (const _com_error& e) {
        if (scope != nullptr) {
            std::string line(scope);
            line += " com_error";
            log.LogHR(LOG_ERROR, line.c_str(), e.Error());
        } else {
            log.LogException(e);
        }
        return e.Error();
    } catch (const std::bad_alloc& e) {
        log.LogException(e);
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        log.LogException(e);
        return other;
    } catch (...) {
        return other;
    }
}
