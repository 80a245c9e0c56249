#pragma once
// The state of one command as its handlers report it just before the command can be
// chosen: whether it is enabled and, for the two bar toggles, whether it is checked.
#include "WinTypes.h"

class CCmdUI
{
public:
    explicit CCmdUI(UINT id) : m_nID(id) {}

    void Enable(bool enabled = true) { m_bEnabled = enabled; }
    void SetCheck(bool checked = true) { m_nCheck = checked ? 1 : 0; }

    UINT m_nID;
    bool m_bEnabled = true;
    // -1 while no handler has said anything about a check mark.
    int m_nCheck = -1;
};
