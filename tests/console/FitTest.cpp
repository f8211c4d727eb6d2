// Every text of the console's dialogs fits its control, in every language set and at 96, 144
// and 192 DPI, and no control leaves its dialog or lies over another (one may hold others, as a
// group box holds its members). Wine takes the system DPI from the user's LogPixels value when a
// process starts, so the test runs itself once per DPI with that value set.
#include "console/res/resource.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <process.h>
#include <string>
#include <vector>

namespace {

constexpr UINT kDialogs[] = {IDD_BRANTEL_DIALOG, IDD_AUTH_OPTION, IDD_ABOUTBOX};
// Each language set is measured in a process of its locale, which chooses the fonts. The set is
// named to the process: under Wine a child's user-interface language does not follow its LANG.
constexpr struct {
    LANGID id;
    const wchar_t* locale;
} kLanguages[] = {{0x0409, L"en_US.UTF-8"}, {0x0804, L"zh_CN.UTF-8"}, {0x0404, L"zh_TW.UTF-8"}};
constexpr DWORD kDpis[] = {96, 144, 192};
// The exit code of a child that measured every dialog without a fault; a filter that matched
// nothing would exit 0.
constexpr int kMeasured = 40;

int Scaled(int pixels, UINT dpi) {
    return MulDiv(pixels, static_cast<int>(dpi), 96);
}

bool Contains(const RECT& outer, const RECT& inner) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// How the control draws its text (DrawText flags) and the room it needs beyond the text
// itself, set in `extra` (left as the caller zeroed it when none is needed); 0 for controls
// whose text is the user's (edits, the address control) or none. `image`: a push button that
// shows a small icon beside its text.
UINT TextFormat(HWND control, UINT dpi, bool image, SIZE& extra) {
    wchar_t name[32] = {};
    GetClassNameW(control, name, 32);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const LONG type = lstrcmpiW(name, L"Button") == 0 ? style & BS_TYPEMASK : -1;
    if (lstrcmpiW(name, L"Static") == 0) {
        const LONG kind = style & SS_TYPEMASK;
        const UINT prefix = (style & SS_NOPREFIX) != 0 ? DT_NOPREFIX : 0;
        return kind <= SS_RIGHT                                 ? DT_WORDBREAK | prefix
               : kind == SS_LEFTNOWORDWRAP || kind == SS_SIMPLE ? DT_SINGLELINE | prefix
                                                                : 0;
    }
    if (type == BS_GROUPBOX) { // the text sits in the top edge, inset from both corners
        extra.cx = 2 * Scaled(8, dpi);
    } else if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) { // the frame, and the image
        extra = {2 * Scaled(3, dpi) + (image ? GetSystemMetrics(SM_CXSMICON) + Scaled(3, dpi) : 0),
                 2 * Scaled(2, dpi)};
    } else if (type >= 0) { // check boxes and radio buttons: the glyph and the gap after it
        extra.cx = GetSystemMetrics(SM_CXMENUCHECK) + Scaled(4, dpi);
    }
    return type >= 0 ? DT_SINGLELINE : 0;
}

// Measures one dialog of one language set; each fault fails the test.
void MeasureDialog(UINT id, LANGID language, UINT dpi) {
    SCOPED_TRACE(testing::Message() << "dialog " << id << "/" << language << " at " << dpi);
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceExW(module, RT_DIALOG, MAKEINTRESOURCEW(id), language);
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    // Hidden: a shown window waits for the display.
    std::string layout(reinterpret_cast<const char*>(data), SizeofResource(module, found));
    layout[15] &= ~(WS_VISIBLE >> 24); // the top byte of DLGTEMPLATEEX::style
    HWND dialog = CreateDialogIndirectParamW(
        module, reinterpret_cast<const DLGTEMPLATE*>(layout.data()), nullptr,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    ASSERT_NE(dialog, nullptr) << "dialog " << id << " does not open";
    RECT client = {};
    GetClientRect(dialog, &client);
    // Each control shown, with its place in the dialog's client area (controls hidden in the
    // layout are shown by no one).
    std::vector<std::pair<HWND, RECT>> shown;
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT box = {};
        GetWindowRect(c, &box);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&box), 2);
        if ((GetWindowLongW(c, GWL_STYLE) & WS_VISIBLE) != 0) {
            shown.push_back({c, box});
        }
    }
    HDC dc = GetDC(dialog);
    EXPECT_EQ(static_cast<int>(dpi), GetDeviceCaps(dc, LOGPIXELSX)) << "LogPixels not taken";
    for (size_t i = 0; i < shown.size(); ++i) {
        const auto [a, box] = shown[i];
        const std::string ctrl = "control " + std::to_string(GetDlgCtrlID(a));
        EXPECT_TRUE(Contains(client, box)) << ctrl << " leaves the dialog";
        for (size_t j = i + 1; j < shown.size(); ++j) {
            const RECT other = shown[j].second;
            RECT common = {};
            EXPECT_TRUE(!IntersectRect(&common, &box, &other) || Contains(box, other) ||
                        Contains(other, box))
                << ctrl << " overlaps control " << GetDlgCtrlID(shown[j].first);
        }
        SIZE extra = {};
        wchar_t text[256] = {};
        const bool image = id == IDD_BRANTEL_DIALOG && GetDlgCtrlID(a) != IDC_TRAY_ICON;
        const UINT format = TextFormat(a, dpi, image, extra);
        if (format == 0 || GetWindowTextW(a, text, 256) == 0) {
            continue;
        }
        const HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(a, WM_GETFONT, 0, 0)));
        RECT room = {};
        GetClientRect(a, &room);
        RECT need = {0, 0, room.right - extra.cx, 0};
        DrawTextW(dc, text, -1, &need, DT_CALCRECT | format);
        SelectObject(dc, old);
        EXPECT_TRUE(need.right + extra.cx <= room.right && need.bottom + extra.cy <= room.bottom)
            << ctrl << " needs " << need.right + extra.cx << " by " << need.bottom + extra.cy
            << " pixels";
    }
    ReleaseDC(dialog, dc);
    DestroyWindow(dialog);
}

// The part that runs once per DPI, in a process of its own.
TEST(Fit, DISABLED_AtTheSystemDpi) {
    SetProcessDPIAware();
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_INTERNET_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    wchar_t dpi[16] = {}, language[16] = {};
    GetEnvironmentVariableW(L"FIT_TEST_DPI", dpi, 16);
    GetEnvironmentVariableW(L"FIT_TEST_LANGUAGE", language, 16);
    for (UINT id : kDialogs) {
        MeasureDialog(id, static_cast<LANGID>(_wtoi(language)), static_cast<UINT>(_wtoi(dpi)));
    }
    ExitProcess(HasFailure() ? 1 : kMeasured);
}

TEST(Fit, EveryTextFitsInEveryLanguageSetAtEveryDpi) {
    const wchar_t* desktop = L"Control Panel\\Desktop";
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    for (DWORD dpi : kDpis) {
        SetEnvironmentVariableW(L"FIT_TEST_DPI", std::to_wstring(dpi).c_str());
        RegSetKeyValueW(HKEY_CURRENT_USER, desktop, L"LogPixels", REG_DWORD, &dpi, sizeof(dpi));
        for (const auto& language : kLanguages) {
            SetEnvironmentVariableW(L"FIT_TEST_LANGUAGE", std::to_wstring(language.id).c_str());
            SetEnvironmentVariableW(L"LANG", language.locale);
            EXPECT_EQ(kMeasured, _wspawnl(_P_WAIT, self, L"fit", L"--gtest_also_run_disabled_tests",
                                          L"--gtest_filter=Fit.DIS*", nullptr))
                << "faults at " << dpi << " DPI (listed above)";
        }
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, desktop, L"LogPixels");
}

} // namespace
