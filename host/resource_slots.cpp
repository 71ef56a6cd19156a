#include "resource_slots.h"

#include <windows.h>

unsigned long long nextEventSlot() {
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    CloseHandle(event);
    return (unsigned long long)(UINT_PTR)event;
}

unsigned nextGdiSlot() {
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    DeleteObject(brush);
    return (unsigned)((UINT_PTR)brush & 0xFFFF);
}
