#include "CBaseThread.h"

#include "WaitHandles.h"

IMPLEMENT_DYNCREATE(CBaseThread, CWinThread)

BOOL CBaseThread::InitInstance()
{
    return TRUE;
}

bool CBaseThread::OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_THREAD_QUIT)
    {
        PostQuitMessage(0);
        return true;
    }
    return CWinThread::OnThreadMessage(message, wParam, lParam);
}

bool CBaseThread::StopAndWait(CWinThread* thread, DWORD timeoutMs)
{
    if (!thread)
        return true;
    // Both are read before posting: once the quit message is out, the object may
    // delete itself at any moment.
    HANDLE handle = thread->m_hThread;
    DWORD id = thread->m_nThreadID;
    PostThreadMessage(id, WM_THREAD_QUIT, 0, 0);
    return WaitForSingleObject(handle, timeoutMs) == WAIT_OBJECT_0;
}
