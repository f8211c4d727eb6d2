#include "ShareSecurityAttributes.h"

#include <sddl.h>

ShareSecurityAttributes::ShareSecurityAttributes(bool lowIntegrityLabel) noexcept
    : m_attributes{}, m_descriptor{}, m_lowIntegrityLabel(lowIntegrityLabel ? 1 : 0) {
    m_attributes.nLength = sizeof(m_attributes);
    m_attributes.lpSecurityDescriptor = &m_descriptor;
    m_attributes.bInheritHandle = FALSE;
}

ShareSecurityAttributes::~ShareSecurityAttributes() {
    if (m_labelDescriptor != nullptr) {
        LocalFree(m_labelDescriptor);
    }
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
        if (m_labelDescriptor == nullptr &&
            !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                L"S:(ML;;NW;;;LW)", SDDL_REVISION_1, &m_labelDescriptor, nullptr)) {
            return false;
        }
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL sacl = nullptr;
        if (!GetSecurityDescriptorSacl(m_labelDescriptor, &present, &sacl, &defaulted) ||
            !SetSecurityDescriptorSacl(&m_descriptor, TRUE, sacl, FALSE)) {
            return false;
        }
    }
    m_ready = 1;
    return true;
}
