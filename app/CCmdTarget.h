#pragma once
// Something that handles commands: the view, the document, the main window and the
// application each keep a small map from command number to a handler and, where the
// command is not always available, to an enabling function. The main window routes a
// command through them in that order; the first that knows it takes it.
//
// Threading: user-interface thread only.
#include "CCmdUI.h"
#include "WinTypes.h"

#include <functional>
#include <vector>

class CCmdTarget
{
public:
    virtual ~CCmdTarget();

    // Runs the command's handler; false when this target has none.
    bool RunCommand(UINT id);
    // Asks the enabling function; false when this target has none for the command.
    bool UpdateCommand(UINT id, CCmdUI& state);
    bool HandlesCommand(UINT id) const;

protected:
    CCmdTarget() = default;
    // A command without an enabling function is enabled wherever it has a handler.
    void OnCommand(UINT id, std::function<void()> handler,
                   std::function<void(CCmdUI&)> update = {});
    // An enabling function for a command another target runs.
    void OnUpdateCommand(UINT id, std::function<void(CCmdUI&)> update);

private:
    struct Entry
    {
        UINT id;
        std::function<void()> handler;
        std::function<void(CCmdUI&)> update;
    };
    Entry* Find(UINT id);
    const Entry* Find(UINT id) const;

    std::vector<Entry> m_entries;
};
