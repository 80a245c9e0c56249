#pragma once
// Run-time classes: creation by class name and "is kind of" tests. The class names are
// fixed strings (they are written into settings files), never typeid names.
#include "Export.h"

class CArchive;
class CObject;

struct VARKO_EXPORT CRuntimeClass
{
    const char* m_lpszClassName;
    const CRuntimeClass* m_pBaseClass;
    CObject* (*m_pfnCreateObject)(); // null when the class is not dynamically creatable

    CObject* CreateObject() const { return m_pfnCreateObject ? m_pfnCreateObject() : nullptr; }
    bool IsDerivedFrom(const CRuntimeClass* base) const;
    // Exact, case-sensitive lookup among the dynamically creatable classes.
    static const CRuntimeClass* FromName(const char* className);
    static void Register(const CRuntimeClass* cls);
};

class VARKO_EXPORT CObject
{
public:
    virtual ~CObject();
    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual void Serialize(CArchive& ar);
    bool IsKindOf(const CRuntimeClass* cls) const;

    static const CRuntimeClass classCObject;
};

#define RUNTIME_CLASS(cls) (&cls::class##cls)

#define DECLARE_DYNAMIC(cls)                                                                       \
public:                                                                                            \
    static const CRuntimeClass class##cls;                                                         \
    const CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(cls)                                                                     \
    DECLARE_DYNAMIC(cls)                                                                           \
    static CObject* CreateObject();

#define IMPLEMENT_DYNAMIC(cls, base)                                                               \
    const CRuntimeClass cls::class##cls = {#cls, RUNTIME_CLASS(base), nullptr};                    \
    const CRuntimeClass* cls::GetRuntimeClass() const                                              \
    {                                                                                              \
        return RUNTIME_CLASS(cls);                                                                 \
    }

#define IMPLEMENT_DYNCREATE(cls, base)                                                             \
    CObject* cls::CreateObject()                                                                   \
    {                                                                                              \
        return new cls;                                                                            \
    }                                                                                              \
    const CRuntimeClass cls::class##cls = {#cls, RUNTIME_CLASS(base), &cls::CreateObject};         \
    const CRuntimeClass* cls::GetRuntimeClass() const                                              \
    {                                                                                              \
        return RUNTIME_CLASS(cls);                                                                 \
    }                                                                                              \
    static const bool s_registered_##cls = (CRuntimeClass::Register(RUNTIME_CLASS(cls)), true);
