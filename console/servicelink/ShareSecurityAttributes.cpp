#include "console/servicelink/ShareSecurityAttributes.h"

#include <sddl.h>

ShareSecurityAttributes::ShareSecurityAttributes(bool lowIntegrityLabel) noexcept
    : m_attributes{}, m_descriptor{}, m_lowIntegrityLabel(lowIntegrityLabel ? 1 : 0) {
    m_attributes.nLength = sizeof(m_attributes);
    m_attributes.lpSecurityDescriptor = &m_descriptor;
    m_attributes.bInheritHandle = FALSE;
}

bool ShareSecurityAttributes::Build() noexcept {
    if (m_ready) {
        return true;
    }
    if (!InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION)) {
        return false;
    }
    if (!SetSecurityDescriptorDacl(&m_descriptor, TRUE, nullptr, FALSE)) {
        return false;
    }
    if (m_lowIntegrityLabel) {
        if (!m_labelDescriptor) {
            PSECURITY_DESCRIPTOR label = nullptr;
            if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
                    L"S:(ML;;NW;;;LW)", SDDL_REVISION_1, &label, nullptr)) {
                return false;
            }
            m_labelDescriptor.reset(label);
        }
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL sacl = nullptr;
        if (!GetSecurityDescriptorSacl(m_labelDescriptor.get(), &present, &sacl, &defaulted) ||
            !SetSecurityDescriptorSacl(&m_descriptor, TRUE, sacl, FALSE)) {
            return false;
        }
    }
    m_ready = 1;
    return true;
}
