#pragma once

#include <cstdint>
#include <string>

// The system's message text for Windows error `code`, in the user's default language, as the
// system writes it (usually ending with "\r\n"). Empty when the system has no text for it.
std::wstring SystemErrorText(std::uint32_t code);
