// Security attributes for the objects the console and the service share across sessions and
// integrity levels: a null DACL (everybody may open them), and, when its owner asks for it, a
// low-integrity mandatory label so that low-integrity processes may write to them too.
#pragma once

#include "corvanelib/Win32/UniqueHandle.h"

class ShareSecurityAttributes {
public:
    explicit ShareSecurityAttributes(bool lowIntegrityLabel = false) noexcept;
    // The record points at the descriptor inside this object: neither may move.
    ShareSecurityAttributes(const ShareSecurityAttributes&) = delete;
    ShareSecurityAttributes& operator=(const ShareSecurityAttributes&) = delete;

    // Builds the descriptor once; later calls return at once. True when it is ready.
    bool Build() noexcept;
    bool IsReady() const noexcept { return m_ready != 0; }

    // The attributes to create a shared object with: null (the default security) when the
    // descriptor could not be built, so that creation never sees a half-made descriptor.
    SECURITY_ATTRIBUTES* Get() noexcept { return m_ready ? &m_attributes : nullptr; }

private:
    SECURITY_ATTRIBUTES m_attributes;
    SECURITY_DESCRIPTOR m_descriptor;
    BYTE m_ready = 0;
    BYTE m_lowIntegrityLabel = 0;
    corvanelib::UniqueLocalMemory m_labelDescriptor; // from SDDL; owns the SACL we point at
};
