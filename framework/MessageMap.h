// Message maps: static tables that tie window messages and commands to the
// member functions that handle them.
//
// Each class that handles messages has one constant table of entries
// (message, notification code, control or command id, handler) and a pointer
// to its base class's table; lookup walks from the most derived table to the
// root. An entry's handler is a plain function pointer made from a
// captureless lambda by one of the entry templates below, so the member
// function's signature is checked when the table is compiled: a handler with
// the wrong signature for its message does not build. No member-function
// pointer is ever cast to a generic type.
//
// A handler declines the message it is handling by calling Default() (see
// CCmdTarget); lookup then goes on in the base tables and finally to the
// platform's default processing. What a declining handler returns is not
// used.
//
//   class CMyDlg : public CDialog {
//     public:
//       CMyDlg() : CDialog(IDD_MY_DIALOG) {}
//       static const afx::MessageMap messageMap;
//       const afx::MessageMap* GetMessageMap() const override { return &messageMap; }
//
//     protected:
//       void OnPaint();
//
//     private:
//       static const afx::MessageMapEntry messageEntries[];
//   };
//
//   constinit const afx::MessageMapEntry CMyDlg::messageEntries[] = {
//       afx::OnWmPaint<&CMyDlg::OnPaint>(),
//   };
//   constinit const afx::MessageMap CMyDlg::messageMap{&CDialog::messageMap,
//                                                      CMyDlg::messageEntries};
#pragma once

#include <windows.h>

#include <concepts>
#include <optional>
#include <span>

class CCmdTarget;

namespace afx {

// A message as it reaches a handler. A WM_COMMAND from a menu or an
// accelerator comes with notification code 0 (see CWnd::WindowProc).
struct Message {
    UINT id;
    WPARAM wParam;
    LPARAM lParam;
};

// The result of offering a message to the tables: the value of the handler
// that took it, or nothing when no entry matched or every matching handler
// declined.
using Handled = std::optional<LRESULT>;

using Thunk = LRESULT (*)(CCmdTarget& target, const Message& message);

// Matches any notification code or id.
inline constexpr UINT kAny = 0xFFFFFFFF;

struct MessageMapEntry {
    UINT message;
    UINT code; // notification code of WM_COMMAND, or kAny
    UINT id;   // control or command id of WM_COMMAND, or kAny
    Thunk handler;

    constexpr bool Matches(const Message& m) const {
        if (m.id != message) {
            return false;
        }
        if (message != WM_COMMAND) {
            return true;
        }
        return (code == kAny || code == HIWORD(m.wParam)) && (id == kAny || id == LOWORD(m.wParam));
    }
};

struct MessageMap {
    const MessageMap* base;
    std::span<const MessageMapEntry> entries;
};

namespace detail {

template <typename MemberFunction> struct MemberOf;
template <typename C, typename R, typename... Args> struct MemberOf<R (C::*)(Args...)> {
    using Class = C;
};

template <auto Handler> using ClassOf = typename MemberOf<decltype(Handler)>::Class;

// Calls `Handler` on the target; the target is of the handler's class because
// a table is only ever searched for objects of its own class or a derived one.
template <auto Handler, typename... Args> decltype(auto) Call(CCmdTarget& target, Args... args) {
    return (static_cast<ClassOf<Handler>&>(target).*Handler)(args...);
}

template <auto Handler, typename Signature>
concept HasSignature = std::same_as<decltype(Handler), Signature ClassOf<Handler>::*>;

} // namespace detail

// A command with id `Id`: from a menu, an accelerator, or a click on button
// `Id` (BN_CLICKED, notification 0). Other notifications from a control, such
// as a list box's selection change (notification 1), are not commands.
template <UINT Id, auto Handler>
requires detail::HasSignature<Handler, void()>
constexpr MessageMapEntry OnCommand() {
    return {WM_COMMAND, 0, Id, [](CCmdTarget& target, const Message&) -> LRESULT {
                detail::Call<Handler>(target);
                return 0;
            }};
}

// A click on button `Id`: the same entry as OnCommand, named for the button.
template <UINT Id, auto Handler>
requires detail::HasSignature<Handler, void()>
constexpr MessageMapEntry OnBnClicked() {
    static_assert(BN_CLICKED == 0);
    return OnCommand<Id, Handler>();
}

// WM_PAINT, handled by `void C::OnPaint()`.
template <auto Handler>
requires detail::HasSignature<Handler, void()>
constexpr MessageMapEntry OnWmPaint() {
    return {WM_PAINT, kAny, kAny, [](CCmdTarget& target, const Message&) -> LRESULT {
                detail::Call<Handler>(target);
                return 0;
            }};
}

// WM_QUERYDRAGICON, handled by `HCURSOR C::OnQueryDragIcon()`.
template <auto Handler>
requires detail::HasSignature<Handler, HCURSOR()>
constexpr MessageMapEntry OnWmQueryDragIcon() {
    return {WM_QUERYDRAGICON, kAny, kAny, [](CCmdTarget& target, const Message&) -> LRESULT {
                return reinterpret_cast<LRESULT>(detail::Call<Handler>(target));
            }};
}

// WM_INITDIALOG, handled by `BOOL C::OnInitDialog()`.
template <auto Handler>
requires detail::HasSignature<Handler, BOOL()>
constexpr MessageMapEntry OnWmInitDialog() {
    return {WM_INITDIALOG, kAny, kAny, [](CCmdTarget& target, const Message&) -> LRESULT {
                return detail::Call<Handler>(target);
            }};
}

// WM_HELP, handled by `BOOL C::OnHelpInfo(HELPINFO*)`.
template <auto Handler>
requires detail::HasSignature<Handler, BOOL(HELPINFO*)>
constexpr MessageMapEntry OnWmHelpInfo() {
    return {WM_HELP, kAny, kAny, [](CCmdTarget& target, const Message& m) -> LRESULT {
                return detail::Call<Handler>(target, reinterpret_cast<HELPINFO*>(m.lParam));
            }};
}

// Any message, handled by `LRESULT C::Handler(WPARAM, LPARAM)`.
template <UINT Msg, auto Handler>
requires detail::HasSignature<Handler, LRESULT(WPARAM, LPARAM)>
constexpr MessageMapEntry OnMessage() {
    return {Msg, kAny, kAny, [](CCmdTarget& target, const Message& m) -> LRESULT {
                return detail::Call<Handler>(target, m.wParam, m.lParam);
            }};
}

} // namespace afx
