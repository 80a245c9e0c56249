#include "CObject.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace
{
struct Registry
{
    std::mutex lock;
    std::vector<const CRuntimeClass*> classes;
};

Registry& registry()
{
    static Registry r;
    return r;
}
} // namespace

const CRuntimeClass CObject::classCObject = {"CObject", nullptr, nullptr};

CObject::~CObject() = default;

const CRuntimeClass* CObject::GetRuntimeClass() const
{
    return &classCObject;
}

void CObject::Serialize(CArchive&) {}

bool CObject::IsKindOf(const CRuntimeClass* cls) const
{
    return GetRuntimeClass()->IsDerivedFrom(cls);
}

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const
{
    for (const CRuntimeClass* c = this; c; c = c->m_pBaseClass)
        if (c == base)
            return true;
    return false;
}

void CRuntimeClass::Register(const CRuntimeClass* cls)
{
    auto& r = registry();
    std::lock_guard g(r.lock);
    r.classes.push_back(cls);
}

const CRuntimeClass* CRuntimeClass::FromName(const char* className)
{
    if (!className)
        return nullptr;
    auto& r = registry();
    std::lock_guard g(r.lock);
    for (const CRuntimeClass* c : r.classes)
        if (std::strcmp(c->m_lpszClassName, className) == 0)
            return c;
    return nullptr;
}
