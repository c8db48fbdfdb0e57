// The host utilities the plug-in calls, on Windows.
#include "HostApi.h"

void CenterWindow(HWND window, HWND parent)
{
    RECT box{}, area{};
    if (!GetWindowRect(window, &box))
        return;
    if (!parent || !GetWindowRect(parent, &area))
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    const int width = box.right - box.left, height = box.bottom - box.top;
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
