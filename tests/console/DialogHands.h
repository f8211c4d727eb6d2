// The console's dialogs in-process: a dialog runs modally on a thread of its own, as the
// program runs it on its main thread, while the test works its controls from outside and
// answers every message box through the seam.
#pragma once

#include "console/framework/MessageBox.h"
#include "peers/uidriver/UiDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace corvane::tests::console {

namespace framework = corvane::console::framework;
using corvane::peers::support::WaitFor;
// Runs `show`, which runs one dialog modally, on its own thread. Tests open one dialog at a
// time: the visible dialog window is that one.
class DialogThread {
public:
    explicit DialogThread(const std::function<void()>& show)
        : m_thread([this, show] {
              show();
              m_ended = true;
          }) {
        WaitFor([this] {
            m_window = FindWindowW(L"#32770", nullptr);
            return (m_window != nullptr && IsWindowVisible(m_window)) || m_ended;
        });
    }
    ~DialogThread() {
        if (!m_ended) {
            PostMessageW(m_window, WM_CLOSE, 0, 0);
        }
        m_thread.join();
    }
    HWND Window() const { return m_window; }
    HWND Item(int id) const { return GetDlgItem(m_window, id); }
    bool Ended() const { return m_ended; }
    std::wstring Text(int id) const { return corvane::peers::uidriver::Text(Item(id)); }
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    bool Checked(int id) const { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    // Posts a button's click and does not wait for its handler.
    void Post(int id) const { PostMessageW(m_window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
    // A click the user could make, handled when it returns: only on an enabled control, and the
    // button's own behaviour (check box, radio group) comes with it.
    void Click(int id) const {
        EXPECT_TRUE(Enabled(id)) << "control " << id << " is disabled";
        SendMessageW(Item(id), BM_CLICK, 0, 0);
    }

private:
    std::atomic<bool> m_ended{false};
    HWND m_window = nullptr;
    std::thread m_thread; // last: it starts once the members above are made
};

// Answers every message box with OK and keeps it.
class BoxRecorder {
public:
    BoxRecorder() {
        framework::SetMessageBoxHook([this](const framework::MessageBoxRequest& box) {
            std::lock_guard<std::mutex> hold(m_mutex);
            m_boxes.push_back(box);
            return IDOK;
        });
    }
    ~BoxRecorder() { framework::SetMessageBoxHook({}); }
    std::vector<framework::MessageBoxRequest> Boxes() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_boxes;
    }

private:
    std::mutex m_mutex;
    std::vector<framework::MessageBoxRequest> m_boxes;
};

} // namespace corvane::tests::console
