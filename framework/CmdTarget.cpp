// Message-map lookup.
#include "CmdTarget.h"

constinit const afx::MessageMap CCmdTarget::messageMap{nullptr, {}};

afx::Handled CCmdTarget::Dispatch(const afx::Message& message) {
    // A handler may send messages to its own window, so the decline flag of
    // the outer message is kept aside while this one is dispatched.
    const bool outerDeclined = m_declined;
    afx::Handled result;
    for (const afx::MessageMap* map = GetMessageMap(); map != nullptr && !result; map = map->base) {
        for (const afx::MessageMapEntry& entry : map->entries) {
            if (!entry.Matches(message)) {
                continue;
            }
            m_declined = false;
            const LRESULT value = entry.handler(*this, message);
            if (!m_declined) {
                result = value;
                break;
            }
        }
    }
    m_declined = outerDeclined;
    return result;
}

afx::Handled CCmdTarget::OnCmdMsg(UINT id, UINT code, LPARAM lParam) {
    return Dispatch({WM_COMMAND, MAKEWPARAM(id, code), lParam});
}
