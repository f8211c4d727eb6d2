#include "StandinOptions.h"

#include <cwchar>

namespace {

bool TakeValue(const std::wstring& argument, const wchar_t* name, std::wstring& value) {
    const std::size_t length = std::wcslen(name);
    if (argument.compare(0, length, name) != 0) {
        return false;
    }
    value = argument.substr(length);
    return true;
}

bool TakeNumber(const std::wstring& argument, const wchar_t* name, unsigned long& number) {
    std::wstring value;
    if (!TakeValue(argument, name, value) || value.empty()) {
        return false;
    }
    wchar_t* end = nullptr;
    const unsigned long parsed = std::wcstoul(value.c_str(), &end, 10);
    if (end == nullptr || *end != L'\0') {
        return false;
    }
    number = parsed;
    return true;
}

} // namespace

void ApplyStandinArguments(const std::vector<std::wstring>& arguments, StandinOptions& options) {
    for (const std::wstring& argument : arguments) {
        unsigned long number = 0;
        std::wstring text;
        if (TakeNumber(argument, L"--start-delay=", number)) {
            options.startDelayMs = number;
        } else if (argument == L"--never-running") {
            options.neverRunning = true;
        } else if (argument == L"--trouble") {
            options.trouble = true;
        } else if (argument == L"--silent") {
            options.silent = true;
        } else if (argument == L"--ignore-stop") {
            options.ignoreStop = true;
        } else if (TakeNumber(argument, L"--exit-abruptly=", number)) {
            options.exitAbruptly = true;
            options.exitAbruptlyMs = number;
        } else if (TakeNumber(argument, L"--report-period=", number) && number > 0) {
            options.reportPeriodMs = number;
        } else if (TakeValue(argument, L"--data-dir=", text) && !text.empty()) {
            if (text.back() != L'\\' && text.back() != L'/') {
                text.push_back(L'\\');
            }
            options.dataDir = text;
        } else if (TakeValue(argument, L"--tag=", text)) {
            options.tag = text;
        }
    }
}
