#pragma once
// Map from text to object pointer. It iterates in insertion order (an entry removed
// and inserted again moves to the end; SetAt on an existing key keeps its place), so
// loading a settings file and saving it again writes the same
// bytes, and a batch visits printers in a predictable order. Removing the entry at a
// position that has already been passed by GetNextAssoc is safe.
#include "CObject.h"
#include "CString.h"
#include "WinTypes.h"

#include <string>
#include <unordered_map>

class CMapStringToOb
{
public:
    explicit CMapStringToOb(int /*blockSize*/ = 10) {}
    ~CMapStringToOb() { RemoveAll(); }
    CMapStringToOb(const CMapStringToOb& other) { Copy(other); }
    CMapStringToOb& operator=(const CMapStringToOb& other)
    {
        if (this != &other)
        {
            RemoveAll();
            Copy(other);
        }
        return *this;
    }

    int GetCount() const { return static_cast<int>(m_index.size()); }
    int GetSize() const { return GetCount(); }
    bool IsEmpty() const { return m_index.empty(); }

    bool Lookup(const CString& key, CObject*& value) const
    {
        auto it = m_index.find(key.str());
        if (it == m_index.end())
            return false;
        value = it->second->value;
        return true;
    }

    void SetAt(const CString& key, CObject* value)
    {
        auto it = m_index.find(key.str());
        if (it != m_index.end())
        {
            it->second->value = value;
            return;
        }
        Node* n = new Node{key, value, m_tail, nullptr};
        if (m_tail)
            m_tail->next = n;
        else
            m_head = n;
        m_tail = n;
        m_index.emplace(key.str(), n);
    }

    bool RemoveKey(const CString& key)
    {
        auto it = m_index.find(key.str());
        if (it == m_index.end())
            return false;
        Node* n = it->second;
        m_index.erase(it);
        (n->prev ? n->prev->next : m_head) = n->next;
        (n->next ? n->next->prev : m_tail) = n->prev;
        delete n;
        return true;
    }

    void RemoveAll()
    {
        for (Node* n = m_head; n;)
        {
            Node* next = n->next;
            delete n;
            n = next;
        }
        m_head = m_tail = nullptr;
        m_index.clear();
    }

    POSITION GetStartPosition() const { return reinterpret_cast<POSITION>(m_head); }

    void GetNextAssoc(POSITION& pos, CString& key, CObject*& value) const
    {
        Node* n = reinterpret_cast<Node*>(pos);
        key = n->key;
        value = n->value;
        pos = reinterpret_cast<POSITION>(n->next);
    }

private:
    struct Node
    {
        CString key;
        CObject* value;
        Node* prev;
        Node* next;
    };

public:
    // The values in order, for a range-for. As with GetNextAssoc, the walk has moved on
    // before the body sees an entry, so the body may remove that entry.
    class ValueIterator
    {
    public:
        explicit ValueIterator(const Node* n) : m_node(n), m_next(n ? n->next : nullptr) {}
        CObject* operator*() const { return m_node->value; }
        ValueIterator& operator++()
        {
            m_node = m_next;
            m_next = m_node ? m_node->next : nullptr;
            return *this;
        }
        bool operator!=(const ValueIterator& other) const { return m_node != other.m_node; }

    private:
        const Node* m_node;
        const Node* m_next;
    };
    struct ValueRange
    {
        const Node* head;
        ValueIterator begin() const { return ValueIterator(head); }
        ValueIterator end() const { return ValueIterator(nullptr); }
    };
    ValueRange Values() const { return ValueRange{m_head}; }

private:
    void Copy(const CMapStringToOb& other)
    {
        for (Node* n = other.m_head; n; n = n->next)
            SetAt(n->key, n->value);
    }

    Node* m_head = nullptr;
    Node* m_tail = nullptr;
    std::unordered_map<std::string, Node*> m_index;
};
