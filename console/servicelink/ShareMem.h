// The console's handle on the block it shares with the admission service. Results are Windows
// error codes (0 for success) unless stated. Operations that take the shared-memory mutex
// take a wait in milliseconds and return ERROR_TIMEOUT (1460) when it passes; the mutex is
// released on every way out.
#pragma once

#include "console/servicelink/CommonShareMemory.h"
#include "console/servicelink/ShareSecurityAttributes.h"
#include "corvanelib/Win32/UniqueHandle.h"

#include <string>

class CShareMem {
public:
    // `lowIntegrityLabel` labels the objects this instance creates for low-integrity writers;
    // the console leaves it off.
    explicit CShareMem(bool lowIntegrityLabel = false);
    virtual ~CShareMem();
    CShareMem(const CShareMem&) = delete;
    CShareMem& operator=(const CShareMem&) = delete;

    // Opens the block, or creates it when nobody has yet; only the creator initialises it,
    // an opener writes nothing but the magic and the size. Failure leaves no view.
    DWORD Create();
    // Tells the service that the user configuration was saved (notify command 108). -1 when
    // the service's notify event does not exist or there is no view; otherwise the error of
    // signalling, 0 for success.
    int NotifyService();
    DWORD Close();

    // The mapped block, null without a view. The main dialog writes its command words through
    // it and signals the matching events itself.
    CommonShareMemory* View() const noexcept {
        return static_cast<CommonShareMemory*>(m_view.get());
    }

    // Adds `text` (cut to 511 characters) to the prompt table. 0 also when the text is empty,
    // the table full or the text already present: those are reported only by trace.
    DWORD AddViolateRule(const std::string& text, DWORD waitMs);
    DWORD ClearPrompts(DWORD waitMs);
    // Every used prompt, each followed by "<br />"; empty slots inside the count are skipped.
    DWORD GetPrompts(std::string& out, DWORD waitMs);
    // As GetPrompts, converted from UTF-8.
    DWORD GetPromptsW(std::wstring& out, DWORD waitMs);
    DWORD WriteMessage(const std::string& text, DWORD waitMs);
    DWORD ReadMessage(std::string& out, DWORD waitMs);

    // Signals the service's stop event with `code` in the stop code word; `waitMs` bounds the
    // whole call. Mode 2 waits for the service's exiting event once; any other mode signals
    // again every 500 ms until the stop event has gone. 0 when the service is not (or no
    // longer) running, ERROR_TIMEOUT when it still runs after `waitMs`.
    DWORD RequestStop(DWORD waitMs, DWORD code, int mode);

    bool IsStateBit0Set() const;
    bool IsStateBit1Set() const;
    bool IsStateBit2Set() const;
    // Bit 0 is set only for exactly 1; bits 1 and 2 for any value but 0. Other bits survive
    // concurrent setters in other processes. No effect without a view.
    void SetStateBit0(int on);
    void SetStateBit1(int on);
    void SetStateBit2(int on);
    // Clears the flags word and the service state word.
    void ResetState();

private:
    bool IsBitSet(LONG bit) const;
    void ChangeBit(LONG bit, bool set);

    corvanelib::UniqueKernelHandle m_mapping;
    ShareSecurityAttributes m_security;
    corvanelib::UniqueMapView m_view;
};
