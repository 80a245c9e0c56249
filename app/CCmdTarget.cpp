#include "CCmdTarget.h"

CCmdTarget::~CCmdTarget() = default;

CCmdTarget::Entry* CCmdTarget::Find(UINT id)
{
    for (Entry& e : m_entries)
        if (e.id == id)
            return &e;
    return nullptr;
}

const CCmdTarget::Entry* CCmdTarget::Find(UINT id) const
{
    return const_cast<CCmdTarget*>(this)->Find(id);
}

void CCmdTarget::OnCommand(UINT id, std::function<void()> handler,
                           std::function<void(CCmdUI&)> update)
{
    Entry* e = Find(id);
    if (!e)
        e = &m_entries.emplace_back(Entry{id, {}, {}});
    e->handler = std::move(handler);
    if (update)
        e->update = std::move(update);
}

void CCmdTarget::OnUpdateCommand(UINT id, std::function<void(CCmdUI&)> update)
{
    Entry* e = Find(id);
    if (!e)
        e = &m_entries.emplace_back(Entry{id, {}, {}});
    e->update = std::move(update);
}

bool CCmdTarget::RunCommand(UINT id)
{
    Entry* e = Find(id);
    if (!e || !e->handler)
        return false;
    // A copy: the handler may register or replace handlers while it runs.
    auto handler = e->handler;
    handler();
    return true;
}

bool CCmdTarget::UpdateCommand(UINT id, CCmdUI& state)
{
    const Entry* e = Find(id);
    if (!e || !e->update)
        return false;
    e->update(state);
    return true;
}

bool CCmdTarget::HandlesCommand(UINT id) const
{
    const Entry* e = Find(id);
    return e && e->handler;
}
