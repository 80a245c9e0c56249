#pragma once
// The message numbers of the worker threads. Thread messages go to a worker by id
// (PostThreadMessage), window messages from a worker to a notification window by
// handle (PostMessage). The numbers are absolute and shared with every caller of the
// library, so they never change.
#include "WinTypes.h"

// Thread messages.
constexpr UINT WM_THREAD_QUIT = 5801;    // any worker: end the loop
constexpr UINT WM_DETECT_START = 5902;   // discovery: wParam = search dialog's window
constexpr UINT WM_DETECT_CANCEL = 5904;  // discovery: the user cancelled
constexpr UINT WM_DETECT_TIMEOUT = 5957; // discovery: the search is over (the thread
                                         // posts it itself when the request cannot go)
// To a printer thread: run one download job; wParam = the thread id of the dispatching
// CThrottleThread, or 0. To the throttle: queue the CPrinterThread whose thread id is in
// wParam. Each class maps the one number to its own handler. Thread ids, not object
// pointers: an ended thread's object is freed, and a later one may take its address.
constexpr UINT WM_JOB_START = 6002;
constexpr UINT WM_JOB_FINISHED = 6003; // to the throttle: wParam = the CPrinterThread's
                                       // thread id, lParam = DownloadResult

// Window messages.
constexpr UINT WM_DETECT_DONE = 5903; // to the search dialog: the search is over
// To the search dialog, from the discovery thread once the request is out: start the
// timer wParam for lParam ms. The timer belongs to the window, and so to the
// user-interface thread.
constexpr UINT WM_SEARCH_SET_TIMER = 0x0400 + 456;
constexpr UINT DETECT_TIMER_ID = 456;
constexpr UINT DETECT_TIME_MS = 10000;      // how long the network search listens
constexpr UINT WM_DOWNLOAD_BEGIN = 6805;    // wParam = printer record, lParam = file length
constexpr UINT WM_DOWNLOAD_PROGRESS = 6806; // wParam = printer record, lParam = bytes sent
constexpr UINT WM_DOWNLOAD_END = 6807;      // wParam = printer record, lParam = DownloadResult

enum DownloadResult : int
{
    eDownloadFailed = 0,
    eDownloadSucceeded = 1,
    eDownloadCanceled = 2
};
