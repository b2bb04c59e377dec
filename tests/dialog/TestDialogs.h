// Runs a dialog modally on the test's thread while a driver thread works it,
// in the manner of Wine's own dialog tests. A dialog under test derives from
// the real one, adds a message that runs a function on the dialog's thread
// (to touch its fields safely), and reports when it is up.
#pragma once

#include "Afx.h"
#include "DialogDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace driver {

inline constexpr UINT kRunOnDialogThread = WM_APP + 100;

// Adds to dialog class `Base` what the driver needs.
template <typename Base> class Driven : public Base {
  public:
    using Base::Base;

    std::atomic<HWND> shown{nullptr};

    // Runs `work` on the dialog's own thread and returns when it is done.
    void RunOnDialogThread(const std::function<void()>& work) {
        SendMessageW(shown.load(), kRunOnDialogThread, 0, reinterpret_cast<LPARAM>(&work));
    }

    static const afx::MessageMap messageMap;
    const afx::MessageMap* GetMessageMap() const override { return &messageMap; }

  protected:
    BOOL OnInitDialog() override {
        const BOOL result = Base::OnInitDialog();
        shown = this->m_hWnd;
        return result;
    }

    LRESULT OnRun(WPARAM, LPARAM lParam) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    }

  private:
    static constexpr afx::MessageMapEntry messageEntries[] = {
        afx::OnMessage<kRunOnDialogThread, &Driven::OnRun>(),
    };
};

template <typename Base>
constinit const afx::MessageMap Driven<Base>::messageMap{&Base::messageMap,
                                                         Driven<Base>::messageEntries};

// Runs `dialog` modally; once it is up and visible, runs `script` on a
// second thread with the dialog's window. Whatever the script did, the dialog
// is ended afterwards, so a failing script cannot hang the test. Returns what
// DoModal returned.
template <typename Dialog>
INT_PTR RunModal(Dialog& dialog, const std::function<void(HWND)>& script) {
    std::thread driverThread([&] {
        const bool up = WaitUntil([&] {
            HWND window = dialog.shown.load();
            return window != nullptr && IsWindowVisible(window);
        });
        if (!up) {
            ADD_FAILURE() << "the dialog did not appear";
            return;
        }
        HWND window = dialog.shown.load();
        script(window);
        if (IsWindow(window)) {
            PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        }
    });
    const INT_PTR result = dialog.DoModal();
    driverThread.join();
    return result;
}

} // namespace driver
