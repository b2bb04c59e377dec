// CCmdTarget: the root of every class that receives messages and commands
// through a message map (windows and the application object).
#pragma once

#include "MessageMap.h"

class CCmdTarget {
  public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    // The root table: no entries, no base.
    static const afx::MessageMap messageMap;

    // The most derived class's table. Every class with a table of its own
    // overrides this to return it.
    virtual const afx::MessageMap* GetMessageMap() const { return &messageMap; }

    // Offers `message` to the entries of this object's tables, most derived
    // first. Returns the result of the first handler that takes it, or
    // nothing when no entry matches or every matching handler declines.
    afx::Handled Dispatch(const afx::Message& message);

    // Offers a command (WM_COMMAND with `id` and notification `code`) to this
    // object and, when it does not take it, to the next target in the
    // command route. Windows route on to the application object.
    virtual afx::Handled OnCmdMsg(UINT id, UINT code, LPARAM lParam);

  protected:
    // The one way a handler declines the message it is handling, whatever
    // its signature: the search goes on in the base tables and ends in
    // default processing.
    void Default() { m_declined = true; }

  private:
    bool m_declined = false;
};
