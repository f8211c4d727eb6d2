// Moves values between a dialog's members and its controls, in either direction. A dialog
// lists its bindings once, in DoDataExchange; the same list serves both directions.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <string>

namespace corvane::console::framework {

// A window's whole text (a control's, a caption); empty when it has none.
std::wstring WindowText(HWND window);

enum class Exchange {
    ToControls,   // put the members' values into the controls
    FromControls, // take the controls' values into the members
};

class DataExchange {
public:
    DataExchange(HWND dialog, Exchange direction) : m_dialog(dialog), m_direction(direction) {}

    bool ToControls() const { return m_direction == Exchange::ToControls; }

    // Binds a member to control `id`'s window; the binding is made in both directions.
    void Control(int id, HWND& window);
    // A control's text as 8-bit text in the system code page.
    void Text(int id, std::string& value);
    // A check box: 0 cleared, 1 checked, 2 indeterminate.
    void Check(int id, int& value);
    // A radio group that starts with control `firstId` and runs up to the next control with
    // the group style: the index of the checked button, or -1 when none is checked.
    void Radio(int firstId, int& value);

private:
    HWND Item(int id);

    HWND m_dialog;
    Exchange m_direction;
};

} // namespace corvane::console::framework
